// The line log and open failures in memory: the ports reach simulated sensors
// that keep their own log (kxsim's hex log), so there is nothing to trace here.
#include "runtime/rtcore.h"

const char* ComOpenFailureReason(int /*port*/) {
    return "";
}

void TraceLineToStderr(int /*port*/, const char* /*name*/) {}
