// The live scope's record as CSV: one row per measurement with the time, the
// measured value, the reference, the tolerance window's edges and the two
// outputs as the lamps show them. The rows are formatted into the caller's
// buffer, so a front end can write them wherever it records.
#pragma once

#include <cstdint>

namespace orv {

// Room for the header or one row, line end and terminator included.
constexpr int SCOPE_CSV_LEN = 96;

// The comparators' bounds, carried from sample to sample (the window starts
// them at the defaults' reference 512 and window 640 / 384).
struct ScopeBounds {
    uint16_t refTHD = 512;
    uint16_t upTHD = 640;
    uint16_t lowTHD = 384;
};

struct ScopeRow {
    double ms;           // time since the record started
    uint16_t value;      // measured value
    uint16_t reference;  // the reference it is judged against
    uint16_t upper;      // upper edge of the tolerance window
    uint16_t lower;      // lower edge of the tolerance window
    int refOutput;       // the reference output's lamp: 1 on, 0 off
    int tolOutput;       // the tolerance output's lamp: 1 on, 0 off
};

// The reference output's lamp (1 on, 0 off) for the measured value `v`,
// against the variables reference, hysteresis and polarity; carries the
// reference comparator's bound on in `refTHD`.
int JudgeRef(uint16_t v, uint16_t& refTHD);
// The tolerance output's lamp for `v`, against reference, tolerance,
// hysteresis and polarity; carries the window's bounds on.
int JudgeTol(uint16_t v, uint16_t& upTHD, uint16_t& lowTHD);
// The row for a sample whose lamps are judged already: the reference and
// the tolerance window's edges from the variables.
ScopeRow MakeScopeRow(double ms, uint16_t v, int refOutput, int tolOutput);
// Judges the measured value `v` as the window's lamps do and carries the
// bounds on in `bounds`.
ScopeRow TakeScopeRow(double ms, uint16_t v, ScopeBounds& bounds);

// Writes the header line ("time_ms,value,...\n") into buf[0..size-1].
// Returns its length, or -1 (buf holds "") when it does not fit.
int ScopeCsvHeader(char* buf, int size);
// Writes one row, the time in whole milliseconds, into buf[0..size-1].
// Returns its length, or -1 (buf holds "") when it does not fit.
int ScopeCsvRow(char* buf, int size, const ScopeRow& row);

}  // namespace orv
