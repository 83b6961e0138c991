// The parameter file as the operator works it: the file dialog, and the
// panel's values going to a file or coming from one.
#pragma once

#include <array>

#include "runtime/runtime.h"

namespace orv {

constexpr const char* PARA_FILE_FILTER = "*.dat";
constexpr const char* PARA_FILE_TITLE = "M-DOR-KX-T460 Parameter File";

// The path chosen in the last file dialog.
extern std::array<char, MAX_PATHNAME_LEN> file_name;

// Opens the parameter-file dialog (BUTTON_OK to save or choose, BUTTON_LOAD
// to load) in the project directory and leaves the chosen path in file_name.
// Returns > 0 when a path was chosen; a path too long for the path buffers is
// refused with a message.
int SelectParaFile(int button);
// Reads the panel, builds the block and writes its sixteen words to
// file_name, replacing the file. The outcome is shown on the status line:
// "<name> written" (the fields are then in step) or "Cannot write <name>".
void SendParaToFile();
// Asks for a parameter file and loads it into pp and the sixteen variables,
// showing "<name> loaded"; returns 1 then. A cancelled dialog, or a file that
// cannot be opened or does not hold sixteen numbers of 0..65535, changes
// nothing and returns 0; the latter is reported.
int ReadParaFromFile();

}  // namespace orv
