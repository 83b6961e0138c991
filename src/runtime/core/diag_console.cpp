// The line log of the core runtime without the toolkit: off until
// TraceLineToStderr, then every line stamped on standard error.
#include "runtime/core/trace.h"
#include "runtime/rtcore.h"

void TraceLineToStderr(int port, const char* name) {
    orv_rt::StartTrace(port, name);
}
