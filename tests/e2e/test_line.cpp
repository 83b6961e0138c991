// The background receive notification over a real pseudo-terminal: whole
// frames only, one notification per frame, frames found again after a tear,
// and noise that never counts as a frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;

namespace {

class Line : public orv_test::App {
  protected:
    void SetUp() override {
        App::SetUp();
        Status();
        rx_flag = 0;
        graphrefresh = 0;
    }
    bool Inject(const std::vector<uint8_t>& bytes) { return sensor->inject(bytes); }
    static std::vector<uint8_t> Bytes(const kxsim::Frame& f) { return {f.begin(), f.end()}; }
};

kxsim::Block Words(uint16_t a, uint16_t b, uint16_t c) {
    kxsim::Block w{};
    w[0] = a;
    w[1] = b;
    w[2] = c;
    return w;
}

}  // namespace

TEST_F(Line, MeasurementReplyFillsRawValuesAndBothFlags) {
    ASSERT_TRUE(Inject(Bytes(orv_test::Frame(0x55, 8, Words(600, 700, 800)))));
    ASSERT_TRUE(rt_test::WaitUntil([] { return rx_flag == 1; }, 2000));
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(rawbuf, (std::array<uint16_t, 3>{600, 700, 800}));
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!"}));
}

TEST_F(Line, ThirtyFiveBytesSetNothingUntilTheFrameIsComplete) {
    const auto frame = Bytes(orv_test::Frame(0x55, 8, Words(5, 6, 7)));
    ASSERT_TRUE(Inject({frame.begin(), frame.begin() + 35}));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 35; }, 2000));
    rt_test::Pump(150);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_TRUE(Status().empty());

    ASSERT_TRUE(Inject({frame.back()}));
    ASSERT_TRUE(rt_test::WaitUntil([] { return rx_flag == 1; }, 2000));
    EXPECT_EQ(rawbuf[2], 7);
}

TEST_F(Line, TwoFramesTogetherGiveTwoNotifications) {
    auto both = Bytes(orv_test::Frame(0x55, 8, Words(1, 2, 3)));
    const auto second = Bytes(orv_test::Frame(0x55, 8, Words(4, 5, 6)));
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(Inject(both));
    ASSERT_TRUE(rt_test::WaitUntil([] { return rawbuf[0] == 4; }, 2000));
    rt_test::Pump(100);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!", "Line Ok!"}));
    EXPECT_EQ(GetInQLen(com), 0);
}

TEST_F(Line, NoiseAndForeignFramesAreNeverTakenAndRequestsKeepTheirSyncWord) {
    std::vector<uint8_t> junk(36 * 5 + 17);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(0xFF - i * 7);
    ASSERT_TRUE(Inject(junk));
    ASSERT_TRUE(Inject(Bytes(orv_test::Frame(0x1234, 8, Words(600, 700, 800)))));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 0; }, 2000));
    rt_test::Pump(150);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_TRUE(Status().empty());  // never "Line Ok!" for bytes that are no frame

    const std::size_t before = sensor->framesReceived();
    rt_test::Click(panel(), BTNGet);
    ASSERT_GT(sensor->framesReceived(), before);
    EXPECT_EQ(kxsim::FrameWord(sensor->received()[before], -2), 0x55);
    EXPECT_EQ(Status().back(), "Line Ok!");
}

// A reply whose start was cut off (by a flush while it was on its way) is
// dropped, and the whole frame behind it is taken, also when the bytes come
// a few at a time.
TEST_F(Line, TornFrameIsDroppedAndTheNextOneTaken) {
    const auto torn = Bytes(orv_test::Frame(0x55, 8, Words(1, 2, 3)));
    auto line = std::vector<uint8_t>(torn.begin() + 14, torn.end());
    const auto whole = Bytes(orv_test::Frame(0x55, 8, Words(4, 5, 6)));
    line.insert(line.end(), whole.begin(), whole.end());
    for (std::size_t at = 0; at < line.size(); at += 4) {
        ASSERT_TRUE(Inject({line.begin() + static_cast<long>(at),
                            line.begin() + static_cast<long>(std::min(line.size(), at + 4))}));
        rt_test::Pump(2);
    }
    // Out of step, the frame is taken once the line is quiet behind it, as
    // the loops that wait for replies look.
    ASSERT_TRUE(rt_test::WaitUntil(
        [] {
            ServiceRx();
            return rx_flag == 1;
        },
        2000));
    rt_test::Pump(150);
    EXPECT_EQ(rawbuf, (std::array<uint16_t, 3>{4, 5, 6}));
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!"}));
}
