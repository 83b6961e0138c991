// General array routines.
#pragma once

#include <cstdint>

namespace orv {

constexpr int32_t ERR_COUNT = -20003;  // element count below 1
constexpr int32_t ERR_SHIFT = -20102;  // shift not smaller than the count

int32_t Shift(const double* x, int32_t n, int32_t shift, double* y);
int32_t Copy1D(const double* x, int32_t n, double* y);

}  // namespace orv
