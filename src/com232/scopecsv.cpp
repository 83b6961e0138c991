// The live scope's record as CSV.
#include "com232/scopecsv.h"

#include <cstdio>

#include "analysis/switching.h"
#include "com232/params.h"

namespace orv {

namespace {

constexpr double MS_MAX = 1e15;  // far beyond any record; keeps the cast defined

// snprintf into the buffer; -1 and an empty buffer when it did not fit.
int Fitted(char* buf, int size, int n) {
    if (n < 0 || n >= size) {
        buf[0] = '\0';
        return -1;
    }
    return n;
}

}  // namespace

int JudgeRef(uint16_t v, uint16_t& refTHD) {
    const RefSwitch r = RefComparator(v, refTHD, reference, hysteresis);
    refTHD = r.refTHD;
    return IndicatorState(r.state, polarity);
}

int JudgeTol(uint16_t v, uint16_t& upTHD, uint16_t& lowTHD) {
    const TolSwitch t = TolComparator(v, upTHD, lowTHD, reference, tolerance, hysteresis);
    upTHD = t.upTHD;
    lowTHD = t.lowTHD;
    return IndicatorState(t.state, polarity);
}

ScopeRow MakeScopeRow(double ms, uint16_t v, int refOutput, int tolOutput) {
    return {ms,        v,        reference, UpperEdge(reference, tolerance), LowerEdge(reference, tolerance),
            refOutput, tolOutput};
}

ScopeRow TakeScopeRow(double ms, uint16_t v, ScopeBounds& bounds) {
    const int ref = JudgeRef(v, bounds.refTHD);
    return MakeScopeRow(ms, v, ref, JudgeTol(v, bounds.upTHD, bounds.lowTHD));
}

int ScopeCsvHeader(char* buf, int size) {
    if (buf == nullptr || size <= 0)
        return -1;
    return Fitted(buf, size,
                  std::snprintf(buf, static_cast<std::size_t>(size),
                                "time_ms,value,reference,upper,lower,ref_output,tol_output\n"));
}

int ScopeCsvRow(char* buf, int size, const ScopeRow& row) {
    if (buf == nullptr || size <= 0)
        return -1;
    double ms = row.ms;
    if (!(ms >= 0))
        ms = 0;  // also NaN
    if (ms > MS_MAX)
        ms = MS_MAX;
    return Fitted(buf, size,
                  std::snprintf(buf, static_cast<std::size_t>(size), "%lld,%u,%u,%u,%u,%d,%d\n",
                                static_cast<long long>(ms + 0.5), static_cast<unsigned>(row.value),
                                static_cast<unsigned>(row.reference), static_cast<unsigned>(row.upper),
                                static_cast<unsigned>(row.lower), row.refOutput, row.tolOutput));
}

}  // namespace orv
