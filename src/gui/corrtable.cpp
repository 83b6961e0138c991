// The correction table builder.
//
// The source holds three groups of 1024 integers: values, the positions that
// receive them, and a third group that is read but not used. Pair j is
// (group 0 element j, group 1 element j). The table is built back to front
// so that of several pairs naming one position the lowest element index wins,
// then gaps are filled and drops repaired so that the table never falls.
#include "gui/corrtable.h"

#include <algorithm>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "gui/filestatus.h"
#include "runtime/runtime.h"

namespace orv {

std::array<int32_t, VCORR_LEN> vcorr{};
std::array<int32_t, 256> flashp4{}, flashp5{}, flashp6{}, flashp7{};
int32_t corr_save_failed = 0;

namespace {

using Table = std::array<int32_t, CORR_ENTRIES>;

// Gaps: an entry holding 0 takes the entry before it; T[0] stays.
void FillGaps(Table& t) {
    for (int i = 1; i < CORR_ENTRIES; ++i) {
        if (t[i] == 0) {
            t[i] = t[i - 1];
        }
    }
}

// Drops: in place, left to right, so the left neighbour is already repaired.
// The midpoint is taken in 64 bits (two 32-bit entries may overflow their
// sum) and truncates toward zero; it lies between the two, so it fits again.
void RepairDrops(Table& t) {
    for (int i = 1; i < CORR_ENTRIES - 1; ++i) {
        if (t[i] >= t[i - 1]) {
            continue;
        }
        if (t[i + 1] > t[i - 1]) {
            t[i] = static_cast<int32_t>((static_cast<int64_t>(t[i - 1]) + t[i + 1]) / 2);
        } else {
            t[i] = t[i - 1];
        }
    }
    // The last entry has no right neighbour: it is only raised.
    if (t[CORR_ENTRIES - 1] < t[CORR_ENTRIES - 2]) {
        t[CORR_ENTRIES - 1] = t[CORR_ENTRIES - 2];
    }
}

}  // namespace

int ReadCorrData(const char* path) {
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
    // A position must name a table entry, and a value must fit the flash
    // word it is programmed into: the frames carry 16 bits, so a larger or
    // negative value would reach the sensor as another number.
    for (int j = 0; j < CORR_ENTRIES; ++j) {
        const int32_t pos = source[CORR_ENTRIES + j];
        if (pos < 0 || pos >= CORR_ENTRIES) {
            ShowStatusF("%s: pair %d position %ld out of 0..%d", FileBaseName(path), j,
                        static_cast<long>(pos), CORR_ENTRIES - 1);
            return CORR_ERR_POSITION;
        }
        const int32_t val = source[j];
        if (val < 0 || val > CORR_VALUE_MAX) {
            ShowStatusF("%s: pair %d value %ld out of 0..%ld", FileBaseName(path), j, static_cast<long>(val),
                        static_cast<long>(CORR_VALUE_MAX));
            return CORR_ERR_VALUE;
        }
    }
    std::copy(source.begin(), source.end(), vcorr.begin());

    // Value and position lists, both read back to front.
    Table v{}, p{}, t{};
    for (int i = 0; i < CORR_ENTRIES; ++i) {
        v[i] = vcorr[CORR_ENTRIES - 1 - i];
        p[i] = vcorr[2 * CORR_ENTRIES - 1 - i];
    }
    // Ascending scatter: the pair with the lowest element index comes last.
    for (int i = 0; i < CORR_ENTRIES; ++i) {
        t[p[i]] = v[i];
    }
    FillGaps(t);
    RepairDrops(t);

    for (int i = 0; i < CORR_ENTRIES; ++i) {
        vcorr[i] = i;
        vcorr[CORR_ENTRIES + i] = p[i];
        vcorr[2 * CORR_ENTRIES + i] = t[i];
    }
    // The saved table is a record for the operator; the page buffers do not
    // depend on it, so a failed save is reported, noted for the flash
    // sequence's summary, and programming goes on.
    corr_save_failed = 0;
    if (ArrayToFile(CORR_OUTPUT_FILE, vcorr.data(), TYPE_INT, CORR_ELEMENTS, CORR_GROUPS, 0, 0, 0,
                    CORR_FIELD_WIDTH, FILE_ASCII, FILE_TRUNCATE) < 0) {
        corr_save_failed = 1;
        ShowStatusF("Cannot write %s", CORR_OUTPUT_FILE);
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
