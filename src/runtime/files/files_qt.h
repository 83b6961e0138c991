// The file services' part that takes the toolkit's strings, for the runtimes
// that show file dialogs (the widget runtime and the memory runtime's driver).
#pragma once

#include <QString>

#include "runtime/files/files_internal.h"

namespace orv_rt {

// Hands the answer of a file dialog to the caller: `chosen` is an absolute
// path, or empty when the dialog was cancelled. FILESEL_NONE (also for a file
// outside `directory` when `restrictDirectory`) with an empty buffer;
// FILESEL_EXISTING or FILESEL_NEW with the path in the caller's buffer of
// MAX_PATHNAME_LEN; FILESEL_ERR_TOO_LONG with the buffer left as it was.
int TakeChosenFile(const QString& chosen, const QString& directory, bool restrictDirectory, char* pathName);

}  // namespace orv_rt
