// The correction table builder with its files: reads and checks the source,
// builds the table (corrbuild.cpp), saves "KXlinear.dat" and fills the page
// buffers.
#include "com232/corrtable.h"

#include "com232/filestatus.h"
#include "com232/report.h"
#include "runtime/rtcore.h"

namespace orv {

std::array<int32_t, VCORR_LEN> vcorr{};
std::array<int32_t, 256> flashp4{}, flashp5{}, flashp6{}, flashp7{};
int32_t corr_save_failed = 0;

using Table = CorrTable;

int ReadCorrData(const char* path) {
    return BuildCorrData(path, CORR_OUTPUT_FILE);
}

int BuildCorrData(const char* path, const char* output) {
    if (path == nullptr || path[0] == '\0') {
        ShowStatus("No correction source file");
        return CORR_ERR_NO_PATH;
    }

    // The source is checked whole before anything is changed.
    std::array<int32_t, CORR_ELEMENTS> source{};
    const int rc = FileToArray(path, source.data(), TYPE_INT, CORR_ELEMENTS, CORR_GROUPS, 0, 0, FILE_ASCII);
    if (rc < 0) {
        ReportReadFailure(path, rc, CORR_ELEMENTS, "not an integer");
        return rc;
    }
    int pair = 0;
    const int bad = CheckCorrSource(source.data(), &pair);
    if (bad == CORR_ERR_POSITION) {
        ShowStatusF("%s: pair %d position %ld out of 0..%d", FileBaseName(path), pair,
                    static_cast<long>(source[CORR_ENTRIES + pair]), CORR_ENTRIES - 1);
        return bad;
    }
    if (bad == CORR_ERR_VALUE) {
        ShowStatusF("%s: pair %d value %ld out of %ld..%ld", FileBaseName(path), pair,
                    static_cast<long>(source[pair]), static_cast<long>(CORR_VALUE_MIN),
                    static_cast<long>(CORR_VALUE_MAX));
        return bad;
    }

    Table p{}, t{};
    BuildCorrTable(source.data(), p, t);
    for (int i = 0; i < CORR_ENTRIES; ++i) {
        vcorr[i] = i;
        vcorr[CORR_ENTRIES + i] = p[i];
        vcorr[2 * CORR_ENTRIES + i] = t[i];
    }
    // The saved table is a record for the operator; the page buffers do not
    // depend on it, so a failed save is reported, noted for the flash
    // sequence's summary, and programming goes on.
    corr_save_failed = 0;
    if (ArrayToFile(output, vcorr.data(), TYPE_INT, CORR_ELEMENTS, CORR_GROUPS, 0, 0, 0, CORR_FIELD_WIDTH,
                    FILE_ASCII, FILE_TRUNCATE) < 0) {
        corr_save_failed = 1;
        ShowStatusF("Cannot write %s", FileBaseName(output));
    }

    for (int i = 0; i < 256; ++i) {
        flashp4[i] = t[i];
        flashp5[i] = t[256 + i];
        flashp6[i] = t[512 + i];
        flashp7[i] = t[768 + i];
    }
    return 0;
}

}  // namespace orv
