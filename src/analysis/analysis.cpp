// STUB
#include "analysis/analysis.h"
namespace orv {
int32_t Shift(const double*, int32_t, int32_t, double*) {
    return 0;
}
int32_t Copy1D(const double*, int32_t, double*) {
    return 0;
}
}  // namespace orv
