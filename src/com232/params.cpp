// STUB
#include "com232/params.h"
namespace orv {
uint16_t power, powermode, reference, tolerance, backlimit, hysteresis, polarity, average, measure, memory,
    hold, linear, para12, para13, para14, para15;
std::array<int32_t, PNUM> pp{};
void SetParameterDefaults() {}
void CopyVarsToPP() {}
void CopyPPtoVars() {}
}  // namespace orv
