// Internal interface of the runtime's file services, shared with the layers
// above them (core and panel). Toolkit-free; the program's own code never
// includes it.
#pragma once

#include <string>

#include "runtime/runtime_codes.h"

namespace orv_rt {

// Copies a path into a caller's buffer of MAX_PATHNAME_LEN chars. A path that
// does not fit is refused (ERR_TOO_LONG); the buffer then holds an empty
// string, or is left untouched when `clearOnRefusal` is false. ERR_BAD_VALUE
// for a null buffer.
int CopyPath(const std::string& path, char* out, bool clearOnRefusal = true);

// Takes the current directory as the project directory (at engine start).
void RememberProjectDir();

}  // namespace orv_rt
