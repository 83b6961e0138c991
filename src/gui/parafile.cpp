// The parameter file as the operator works it: the dialog and the panel. The
// file itself is read and written by the core (paramfile.h).
#include "gui/parafile.h"

#include <array>
#include <cstdint>

#include "com232/paramfile.h"
#include "com232/params.h"
#include "com232/report.h"
#include "gui/panel.h"
#include "gui/panelmap.h"

namespace orv {

std::array<char, MAX_PATHNAME_LEN> file_name{};

void SendParaToFile() {
    GetPanelValues();
    CopyVarsToPP();
    if (WriteParaFile(file_name.data(), pp.data()) >= 0)
        FieldsInStep();
}

int SelectParaFile(int button) {
    const int chosen = FileSelectPopup(proj_dir.data(), PARA_FILE_DEFAULT, PARA_FILE_FILTER, PARA_FILE_TITLE,
                                       button, 0, 1, 1, 1, file_name.data());
    if (chosen == FILESEL_ERR_TOO_LONG) {
        // A truncated path could name another file: refuse it instead.
        ShowStatus("error : path too long - choose a shorter one!");
    }
    return chosen;
}

int ReadParaFromFile() {
    if (SelectParaFile(BUTTON_LOAD) <= 0)
        return 0;
    // pp takes the block only when the whole file was good.
    if (ReadParaFile(file_name.data(), pp.data()) != 0)
        return 0;
    CopyPPtoVars();
    return 1;
}

}  // namespace orv
