// The chart window and the two comparators with hysteresis: carried-over
// bounds, 16-bit wrap-around, the polarity rule and the window contents.
#include <gtest/gtest.h>

#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "gui/chart.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;

namespace {

class Chart : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_GT(orv_test::LoadMainPanel(), 0);
        SetParameterDefaults();  // reference 512, tolerance 128, hysteresis 10, polarity 1
        refTHD = 512;
        upTHD = 640;
        lowTHD = 384;
    }
    int Led(int control) { return rt_test::Int(panelHandle, control); }
};

}  // namespace

TEST_F(Chart, ReferenceComparatorSwitchesWithHysteresis) {
    const int values[] = {511, 520, 522, 512, 511};
    const int leds[] = {0, 0, 1, 1, 0};
    const int bounds[] = {522, 522, 512, 512, 522};
    for (int i = 0; i < 5; ++i) {
        SetREFLed(values[i]);
        EXPECT_EQ(Led(LedREF), leds[i]) << "value " << values[i];
        EXPECT_EQ(refTHD, bounds[i]) << "value " << values[i];
    }
}

TEST_F(Chart, ToleranceComparatorLeavesAndReentersFromBothSides) {
    const int up[] = {641, 635, 630};
    const int upLeds[] = {0, 0, 1};
    const int upBounds[] = {630, 630, 640};
    for (int i = 0; i < 3; ++i) {
        SetTOLLed(up[i]);
        EXPECT_EQ(Led(LedTOL), upLeds[i]) << up[i];
        EXPECT_EQ(upTHD, upBounds[i]) << up[i];
    }
    const int low[] = {383, 390, 394};
    const int lowLeds[] = {0, 0, 1};
    const int lowBounds[] = {394, 394, 384};
    for (int i = 0; i < 3; ++i) {
        SetTOLLed(low[i]);
        EXPECT_EQ(Led(LedTOL), lowLeds[i]) << low[i];
        EXPECT_EQ(lowTHD, lowBounds[i]) << low[i];
    }
    // Leaving upwards does not touch the lower bound.
    SetTOLLed(383);
    SetTOLLed(700);
    EXPECT_EQ(lowTHD, 394);
    SetTOLLed(390);
    EXPECT_EQ(Led(LedTOL), 0);
}

TEST_F(Chart, ValuesOnTheBoundsCountAsOnAndInside) {
    SetREFLed(512);
    EXPECT_EQ(Led(LedREF), 1);
    SetTOLLed(640);
    EXPECT_EQ(Led(LedTOL), 1);
    SetTOLLed(384);
    EXPECT_EQ(Led(LedTOL), 1);
}

TEST_F(Chart, PolarityOtherThanOneInvertsIndicatorsOnly) {
    polarity = 2;
    SetREFLed(511);
    EXPECT_EQ(Led(LedREF), 1);
    EXPECT_EQ(refTHD, 522);
    SetTOLLed(641);
    EXPECT_EQ(Led(LedTOL), 1);
    EXPECT_EQ(upTHD, 630);
    polarity = 0;
    SetREFLed(522);
    EXPECT_EQ(Led(LedREF), 0);
    SetTOLLed(500);
    EXPECT_EQ(Led(LedTOL), 0);
}

TEST_F(Chart, ReferenceBelowToleranceWrapsAndKeepsWindowClosed) {
    reference = 100;
    tolerance = 128;
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    const uint16_t raw[3] = {100, 1, 2};
    for (int v : {0, 100, 228, 5000, 65508, 65535}) {
        const uint16_t r[3] = {static_cast<uint16_t>(v), 0, 0};
        PlotNORMValues(r, arrayNORM.data());
        EXPECT_EQ(Led(LedTOL), 0) << v;
    }
    PlotNORMValues(raw, arrayNORM.data());
    EXPECT_EQ(arrayNORM[NORM_LEN - 3], 65508.0);
    EXPECT_EQ(lowTHD, static_cast<uint16_t>(65508 + 10));
    EXPECT_EQ(adcCHA, 1);
    EXPECT_EQ(adcCHB, 2);

    FillarrayNORM(128, 100, 0);
    for (int k = 0; k < NORM_SAMPLES; ++k)
        ASSERT_EQ(arrayNORM[4 * k + 1], -28.0);
}

TEST_F(Chart, FirstPlotAfterFlatFillShowsNinetyNineFlatSamplesThenTheNewOne) {
    FillarrayRAW(0, 0);
    FillarrayNORM(tol10Bit, ref10Bit, 0);
    reference = 600;
    tolerance = 50;
    const uint16_t raw[3] = {777, 0, 0};
    PlotNORMValues(raw, arrayNORM.data());
    for (int k = 0; k < NORM_SAMPLES - 1; ++k) {
        ASSERT_EQ(arrayNORM[4 * k], 640.0);
        ASSERT_EQ(arrayNORM[4 * k + 1], 384.0);
        ASSERT_EQ(arrayNORM[4 * k + 2], 512.0);
        ASSERT_EQ(arrayNORM[4 * k + 3], 0.0);
    }
    EXPECT_EQ(arrayNORM[396], 650.0);
    EXPECT_EQ(arrayNORM[397], 550.0);
    EXPECT_EQ(arrayNORM[398], 600.0);
    EXPECT_EQ(arrayNORM[399], 777.0);
    EXPECT_EQ(rt_test::Int(panelHandle, NumValue), 777);
    for (double v : arrayRAW)
        ASSERT_EQ(v, 0.0);

    // The chart got the whole window: the value trace ends with the new sample
    // in red, the other traces in black.
    const std::vector<double> values = rt_test::TracePoints(panelHandle, StripChart, 4);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 777.0);
    EXPECT_EQ(rt_test::TraceColor(panelHandle, StripChart, 4), COLOR_RED);
    EXPECT_EQ(rt_test::TraceColor(panelHandle, StripChart, 1), COLOR_BLACK);
}
