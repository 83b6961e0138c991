// The switching comparators as pure functions: carried-over bounds, values on
// the bounds, 16-bit wrap-around and the polarity rule.
#include <gtest/gtest.h>

#include "analysis/switching.h"

using namespace orv;

namespace {

constexpr uint16_t kRef = 512, kTol = 128, kHys = 10;

// Runs the tolerance comparator over `values` from the start bounds 640 and
// 384, carrying the bounds from sample to sample.
struct TolRun {
    uint16_t up = 640, low = 384;
    int Next(uint16_t v) {
        const TolSwitch t = TolComparator(v, up, low, kRef, kTol, kHys);
        up = t.upTHD;
        low = t.lowTHD;
        return t.state;
    }
};

}  // namespace

TEST(Switching, ReferenceComparatorSwitchesWithHysteresis) {
    const uint16_t values[] = {511, 520, 522, 512, 511};
    const int states[] = {0, 0, 1, 1, 0};
    const uint16_t bounds[] = {522, 522, 512, 512, 522};
    uint16_t bound = 512;
    for (int i = 0; i < 5; ++i) {
        const RefSwitch r = RefComparator(values[i], bound, kRef, kHys);
        EXPECT_EQ(r.state, states[i]) << "value " << values[i];
        EXPECT_EQ(r.refTHD, bounds[i]) << "value " << values[i];
        bound = r.refTHD;
    }
}

TEST(Switching, ToleranceComparatorLeavesAndReentersFromBothSides) {
    TolRun run;
    const uint16_t up[] = {641, 635, 630};
    const int upStates[] = {0, 0, 1};
    const uint16_t upBounds[] = {630, 630, 640};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run.Next(up[i]), upStates[i]) << up[i];
        EXPECT_EQ(run.up, upBounds[i]) << up[i];
    }
    const uint16_t low[] = {383, 390, 394};
    const int lowStates[] = {0, 0, 1};
    const uint16_t lowBounds[] = {394, 394, 384};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(run.Next(low[i]), lowStates[i]) << low[i];
        EXPECT_EQ(run.low, lowBounds[i]) << low[i];
    }
    // Leaving upwards does not touch the lower bound.
    run.Next(383);
    run.Next(700);
    EXPECT_EQ(run.low, 394);
    EXPECT_EQ(run.Next(390), 0);
}

TEST(Switching, ValuesOnTheBoundsCountAsOnAndInsideAndPolarityInvertsOnlyTheIndicator) {
    EXPECT_EQ(RefComparator(512, 512, kRef, kHys).state, 1);
    EXPECT_EQ(TolComparator(640, 640, 384, kRef, kTol, kHys).state, 1);
    EXPECT_EQ(TolComparator(384, 640, 384, kRef, kTol, kHys).state, 1);

    EXPECT_EQ(IndicatorState(1, 1), 1);
    EXPECT_EQ(IndicatorState(0, 1), 0);
    for (uint16_t polarity : {0, 2, 65535}) {
        EXPECT_EQ(IndicatorState(1, polarity), 0) << polarity;
        EXPECT_EQ(IndicatorState(0, polarity), 1) << polarity;
    }
}

TEST(Switching, ReferenceBelowToleranceWrapsAndKeepsTheWindowClosed) {
    EXPECT_EQ(LowerEdge(100, 128), 65508);
    EXPECT_EQ(UpperEdge(65500, 100), 64);
    uint16_t up = 640, low = 384;
    for (uint16_t v : {0, 100, 228, 5000, 65508, 65535}) {
        const TolSwitch t = TolComparator(v, up, low, 100, 128, kHys);
        EXPECT_EQ(t.state, 0) << v;
        up = t.upTHD;
        low = t.lowTHD;
    }
    EXPECT_EQ(low, static_cast<uint16_t>(65508 + 10));
}
