// The chart window and the two indicators: the window contents, the
// indicators following the comparators, the polarity rule.
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

// The indicators show the comparators' states (their arithmetic is tested on
// its own); the bounds carry over.
TEST_F(Chart, IndicatorsFollowTheComparators) {
    SetREFLed(511);
    EXPECT_EQ(Led(LedREF), 0);
    SetREFLed(522);
    EXPECT_EQ(Led(LedREF), 1);
    EXPECT_EQ(refTHD, 512);
    SetTOLLed(641);
    EXPECT_EQ(Led(LedTOL), 0);
    EXPECT_EQ(upTHD, 630);
    SetTOLLed(600);
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

    FillarrayNORM(128, 100, 0);
    for (int k = 0; k < NORM_SAMPLES; ++k)
        ASSERT_EQ(arrayNORM[4 * k + 1], -28.0);
}

TEST_F(Chart, FirstPlotAfterFlatFillShowsNinetyNineFlatSamplesThenTheNewOne) {
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

    // The chart got the whole window: the value trace ends with the new sample
    // in red, the other traces in black.
    const std::vector<double> values = rt_test::TracePoints(panelHandle, StripChart, 4);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 777.0);
    EXPECT_EQ(rt_test::TraceColor(panelHandle, StripChart, 4), COLOR_RED);
    EXPECT_EQ(rt_test::TraceColor(panelHandle, StripChart, 1), COLOR_BLACK);
}
