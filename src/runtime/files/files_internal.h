// Internal interface of the runtime's file services, shared with the layers
// above them (core and panel). Qt-based; the program's own code never
// includes it.
#pragma once

#include <QString>

#include "runtime/runtime_codes.h"

namespace orv_rt {

// Copies a path into a caller's buffer of MAX_PATHNAME_LEN chars, in the
// file system's encoding. A path that does not fit is refused
// (ERR_TOO_LONG); the buffer then holds an empty string, or is left untouched
// when `clearOnRefusal` is false. ERR_BAD_VALUE for a null buffer.
int CopyPath(const QString& path, char* out, bool clearOnRefusal = true);

// Hands the answer of a file dialog to the caller: `chosen` is an absolute
// path, or empty when the dialog was cancelled. FILESEL_NONE (also for a file
// outside `directory` when `restrictDirectory`) with an empty buffer;
// FILESEL_EXISTING or FILESEL_NEW with the path in the caller's buffer of
// MAX_PATHNAME_LEN; FILESEL_ERR_TOO_LONG with the buffer left as it was.
int TakeChosenFile(const QString& chosen, const QString& directory, bool restrictDirectory, char* pathName);

// Takes the current directory as the project directory (at engine start).
void RememberProjectDir();

}  // namespace orv_rt
