// The correction table's build, a function of the source alone.
//
// The source holds three groups of 1024 integers: values, the positions that
// receive them, and a third group that is read but not used. Pair j is
// (group 0 element j, group 1 element j). The table is built back to front
// so that of several pairs naming one position the lowest element index wins,
// then gaps are filled and drops repaired so that the table never falls.
#include "com232/corrtable.h"

namespace orv {

namespace {

using Table = CorrTable;

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

int CheckCorrSource(const int32_t* source, int* pair) {
    // A position must name a table entry, and a value must fit the flash
    // word it is programmed into: the frames carry 16 bits, a negative entry
    // as its two's complement (-1 is 0xFFFF), so anything beyond what a word
    // holds either way would reach the sensor as another number.
    for (int j = 0; j < CORR_ENTRIES; ++j) {
        *pair = j;
        const int32_t pos = source[CORR_ENTRIES + j];
        if (pos < 0 || pos >= CORR_ENTRIES)
            return CORR_ERR_POSITION;
        const int32_t val = source[j];
        if (val < CORR_VALUE_MIN || val > CORR_VALUE_MAX)
            return CORR_ERR_VALUE;
    }
    return 0;
}

void BuildCorrTable(const int32_t* source, CorrTable& positions, CorrTable& table) {
    // Value and position lists, both read back to front.
    Table values{};
    for (int i = 0; i < CORR_ENTRIES; ++i) {
        values[i] = source[CORR_ENTRIES - 1 - i];
        positions[i] = source[2 * CORR_ENTRIES - 1 - i];
    }
    // Ascending scatter: the pair with the lowest element index comes last.
    table.fill(0);
    for (int i = 0; i < CORR_ENTRIES; ++i)
        table[positions[i]] = values[i];
    FillGaps(table);
    RepairDrops(table);
}

}  // namespace orv
