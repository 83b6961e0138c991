// The two switching outputs of the live scope as the sensor computes them:
// comparators with hysteresis on unsigned 16-bit counts, whose sums and
// differences are taken modulo 65536. Each sample is judged against the
// bound that the previous sample left; the result carries the next bound.
#pragma once

#include <cstdint>

namespace orv {

struct RefSwitch {
    int state;        // 1 on, 0 off
    uint16_t refTHD;  // bound for the next sample
};

struct TolSwitch {
    int state;  // 1 inside the window, 0 outside
    uint16_t upTHD, lowTHD;
};

// Reference output: on at v >= refTHD; once on it stays on down to the
// reference, once off it comes on only at reference + hysteresis.
RefSwitch RefComparator(uint16_t v, uint16_t refTHD, uint16_t reference, uint16_t hysteresis);
// Tolerance-window output: on inside [reference - tolerance, reference +
// tolerance]; after leaving it comes back only a hysteresis inside.
TolSwitch TolComparator(uint16_t v, uint16_t upTHD, uint16_t lowTHD, uint16_t reference, uint16_t tolerance,
                        uint16_t hysteresis);
// What an indicator shows for a comparator state: polarity 1 shows it as it
// is, any other polarity inverts it.
int IndicatorState(int state, uint16_t polarity);

// Upper and lower edge of the tolerance window (modulo 65536).
uint16_t UpperEdge(uint16_t reference, uint16_t tolerance);
uint16_t LowerEdge(uint16_t reference, uint16_t tolerance);

}  // namespace orv
