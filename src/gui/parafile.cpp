// The parameter file: the sixteen words of the block, in slot order, as one
// group of unsigned numbers. Both directions go through a working array so
// that a failed read never reaches pp or the variables.
#include "gui/parafile.h"

#include <array>
#include <cstdint>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "gui/filestatus.h"
#include "gui/panelmap.h"
#include "runtime/runtime.h"

namespace orv {

void SendParaToFile() {
    GetPanelValues();
    CopyVarsToPP();
    std::array<uint32_t, PNUM> work{};
    for (int k = 0; k < PNUM; ++k) {
        work[k] = static_cast<uint32_t>(pp[k]);
    }
    if (ArrayToFile(file_name.data(), work.data(), TYPE_UINT, PNUM, 1, 0, 0, 0, PARA_FIELD_WIDTH, FILE_ASCII,
                    FILE_TRUNCATE) < 0) {
        ShowStatusF("Cannot write %s", FileBaseName(file_name.data()));
    } else {
        ShowStatusF("%s written", FileBaseName(file_name.data()));
    }
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

void ReadParaFromFile() {
    if (SelectParaFile(BUTTON_LOAD) <= 0) {
        return;
    }

    std::array<uint32_t, PNUM> work{};
    const int rc = FileToArray(file_name.data(), work.data(), TYPE_UINT, PNUM, 1, 0, 0, FILE_ASCII);
    if (rc < 0) {
        ReportReadFailure(file_name.data(), rc, PNUM, "is not a number");
        return;
    }

    // Every word must fit its 16-bit variable: a larger number would be cut
    // to another value without a word, so the file is refused whole.
    for (int k = 0; k < PNUM; ++k) {
        if (work[k] > PARA_WORD_MAX) {
            ShowStatusF("%s: element %d out of 0..%lu", FileBaseName(file_name.data()), k,
                        static_cast<unsigned long>(PARA_WORD_MAX));
            return;
        }
    }
    for (int k = 0; k < PNUM; ++k) {
        pp[k] = static_cast<int32_t>(work[k]);
    }
    CopyPPtoVars();
    ShowStatusF("%s loaded", FileBaseName(file_name.data()));
}

}  // namespace orv
