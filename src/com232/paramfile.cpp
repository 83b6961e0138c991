// The parameter file. Both directions go through a working array, so that a
// refused read never reaches the caller's block.
#include "com232/paramfile.h"

#include <array>

#include "com232/filestatus.h"
#include "com232/params.h"
#include "com232/report.h"
#include "runtime/rtcore.h"

namespace orv {

namespace {

constexpr int PARA_ERR_RANGE = -20;  // a number above 65535

}  // namespace

int WriteParaFile(const char* path, const int32_t* block) {
    std::array<uint32_t, PNUM> work{};
    for (int k = 0; k < PNUM; ++k)
        work[k] = static_cast<uint32_t>(block[k]);
    const int rc = ArrayToFile(path, work.data(), TYPE_UINT, PNUM, 1, 0, 0, 0, PARA_FIELD_WIDTH, FILE_ASCII,
                               FILE_TRUNCATE);
    // A write that failed would otherwise leave "Transmit..." as if nothing
    // were wrong; one that succeeded leaves it, as the operator expects.
    if (rc < 0)
        ShowStatusF("Cannot write %s", FileBaseName(path));
    return rc;
}

int ReadParaFile(const char* path, int32_t* block) {
    std::array<uint32_t, PNUM> work{};
    const int rc = FileToArray(path, work.data(), TYPE_UINT, PNUM, 1, 0, 0, FILE_ASCII);
    if (rc < 0) {
        ReportReadFailure(path, rc, PNUM, "is not a number");
        return rc;
    }
    // Every word must fit its 16-bit variable: a larger number would be cut
    // to another value without a word, so the file is refused whole.
    for (int k = 0; k < PNUM; ++k) {
        if (work[k] > PARA_WORD_MAX) {
            ShowStatusF("%s: element %d out of 0..%lu", FileBaseName(path), k,
                        static_cast<unsigned long>(PARA_WORD_MAX));
            return PARA_ERR_RANGE;
        }
    }
    for (int k = 0; k < PNUM; ++k)
        block[k] = static_cast<int32_t>(work[k]);
    return 0;
}

}  // namespace orv
