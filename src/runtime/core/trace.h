// The line log written to standard error with the time of day (rtcore.h's
// TraceLineToStderr), the same for every engine. Toolkit-free.
#pragma once

#include <string>

namespace orv_rt {

// Switches the stamped log on; a line about port `port` names it `name` (when
// not empty) instead of "COM<port>".
void StartTrace(int port, const char* name);
// Whether StartTrace was called.
bool TraceOn();
// Writes one line of the log, stamped with the local time to the millisecond
// and renamed as StartTrace asked, whole, to standard error.
void WriteTraceLine(const std::string& text);

}  // namespace orv_rt
