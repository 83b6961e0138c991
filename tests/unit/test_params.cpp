// The parameter set: defaults, the block copies with their 16-bit widths, and
// the panel mapping with the power offset (against the real panel).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "gui/panelmap.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;

namespace {

std::array<uint16_t, PNUM> Vars() {
    return {power,   powermode, reference, tolerance, backlimit, hysteresis, polarity, average,
            measure, memory,    hold,      linear,    para12,    para13,     para14,   para15};
}

}  // namespace

TEST(Params, DefaultsGoIntoTheBlockInSlotOrder) {
    pp.fill(-1);
    SetParameterDefaults();
    CopyVarsToPP();
    EXPECT_EQ(pp, (std::array<int32_t, PNUM>{500, 1, 512, 128, 10, 10, 1, 8, 0, 0, 100, 1, 0, 0, 0, 0}));
}

TEST(Params, BlockCopiesKeepSixteenBitsUnsigned) {
    SetParameterDefaults();
    para15 = 65535;
    CopyVarsToPP();
    EXPECT_EQ(pp[15], 65535);  // never -1

    pp[2] = 70000;
    pp[3] = -1;
    pp[0] = 0x7FFF0001;
    CopyPPtoVars();
    EXPECT_EQ(reference, 4464);
    EXPECT_EQ(tolerance, 65535);
    EXPECT_EQ(power, 1);
    CopyVarsToPP();
    EXPECT_EQ(pp[2], 4464);

    // A round trip through the block changes no variable.
    for (int k = 0; k < PNUM; ++k)
        pp[k] = 1000 * k + 65535 * (k % 2);
    CopyPPtoVars();
    const auto before = Vars();
    CopyVarsToPP();
    CopyPPtoVars();
    EXPECT_EQ(Vars(), before);
}

TEST(Params, PanelMappingWithPowerOffset) {
    ASSERT_GT(orv_test::LoadMainPanel(), 0);
    SetParameterDefaults();

    SetPanelValues();
    EXPECT_EQ(rt_test::Int(panelHandle, NumPower), 250);
    EXPECT_EQ(rt_test::Int(panelHandle, NumReference), 512);
    EXPECT_EQ(rt_test::Int(panelHandle, NumHysteresis), 10);

    rt_test::EnterNumber(panelHandle, NumPower, 300);
    GetPanelValues();
    EXPECT_EQ(power, 550);

    // A power below the offset shows as a negative number; every 16-bit
    // power has its own field value and comes back unchanged.
    for (int p : {100, 0, 65535}) {
        power = static_cast<uint16_t>(p);
        SetPanelValues();
        EXPECT_EQ(rt_test::Int(panelHandle, NumPower), p - 250);
        power = 1;
        GetPanelValues();
        EXPECT_EQ(power, p);
    }
    // An entry beyond the largest power cannot wrap round to a small one.
    rt_test::EnterNumber(panelHandle, NumPower, 65400);
    GetPanelValues();
    EXPECT_LE(rt_test::Int(panelHandle, NumPower), 65285);
    EXPECT_EQ(power, rt_test::Int(panelHandle, NumPower) + 250);  // never 114
}

TEST(Params, PanelMappingRoundTripAndUntouchedWords) {
    ASSERT_GT(orv_test::LoadMainPanel(), 0);
    SetParameterDefaults();
    backlimit = 11;
    measure = 12;
    memory = 13;
    hold = 14;
    para12 = 15;
    para13 = 16;
    para14 = 17;
    para15 = 18;
    powermode = 2;
    reference = 65535;
    tolerance = 300;
    hysteresis = 0;
    polarity = 0;
    average = 16;
    linear = 0;
    power = 249;

    const auto before = Vars();
    SetPanelValues();
    SetParameterDefaults();
    backlimit = 11;
    measure = 12;
    memory = 13;
    hold = 14;
    para12 = 15;
    para13 = 16;
    para14 = 17;
    para15 = 18;
    GetPanelValues();
    EXPECT_EQ(Vars(), before);
}
