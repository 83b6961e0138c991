// The switching comparators of the live scope.
#include "analysis/switching.h"

namespace orv {

namespace {

uint16_t Add16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a + b);
}
uint16_t Sub16(uint16_t a, uint16_t b) {
    return static_cast<uint16_t>(a - b);
}

}  // namespace

uint16_t UpperEdge(uint16_t reference, uint16_t tolerance) {
    return Add16(reference, tolerance);
}

uint16_t LowerEdge(uint16_t reference, uint16_t tolerance) {
    return Sub16(reference, tolerance);
}

RefSwitch RefComparator(uint16_t v, uint16_t refTHD, uint16_t reference, uint16_t hysteresis) {
    if (v < refTHD)
        return {0, Add16(reference, hysteresis)};
    return {1, reference};
}

TolSwitch TolComparator(uint16_t v, uint16_t upTHD, uint16_t lowTHD, uint16_t reference, uint16_t tolerance,
                        uint16_t hysteresis) {
    if (v > upTHD)
        return {0, Sub16(UpperEdge(reference, tolerance), hysteresis), lowTHD};
    const uint16_t up = UpperEdge(reference, tolerance);
    if (v < lowTHD)
        return {0, up, Add16(LowerEdge(reference, tolerance), hysteresis)};
    return {1, up, LowerEdge(reference, tolerance)};
}

int IndicatorState(int state, uint16_t polarity) {
    return polarity == 1 ? state : 1 - state;
}

}  // namespace orv
