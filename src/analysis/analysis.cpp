// Array shift and copy. Both test their counts first and write nothing when a
// count is bad; both work in place (x and y the same array).
#include "analysis/analysis.h"

namespace orv {

int32_t Copy1D(const double* x, int32_t n, double* y) {
    if (n < 1)
        return ERR_COUNT;
    for (int32_t i = 0; i < n; ++i)
        y[i] = x[i];
    return 0;
}

int32_t Shift(const double* x, int32_t n, int32_t shift, double* y) {
    if (n < 1)
        return ERR_COUNT;
    // Compare in 64 bits: the magnitude of INT32_MIN does not fit in 32.
    const int64_t magnitude = shift < 0 ? -static_cast<int64_t>(shift) : static_cast<int64_t>(shift);
    if (magnitude >= n)
        return ERR_SHIFT;
    if (shift == 0)
        return Copy1D(x, n, y);
    if (shift > 0) {
        // Backwards, so that no source element is overwritten before it is read.
        for (int32_t j = n - shift - 1; j >= 0; --j)
            y[j + shift] = x[j];
        for (int32_t j = 0; j < shift; ++j)
            y[j] = 0.0;
    } else {
        const int32_t s = -shift;
        for (int32_t k = 0; k <= n - s - 1; ++k)
            y[k] = x[k + s];
        for (int32_t k = n - 1; k >= n - s; --k)
            y[k] = 0.0;
    }
    return 0;
}

}  // namespace orv
