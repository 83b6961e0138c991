// The background receive notification over a real pseudo-terminal: whole
// frames only, one notification per frame, and untrusted bytes handled safely.
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
    ASSERT_TRUE(Inject(Bytes(orv_test::Frame(0x1234, 8, Words(600, 700, 800)))));
    ASSERT_TRUE(rt_test::WaitUntil([] { return rx_flag == 1; }, 2000));
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(rawbuf, (std::array<uint16_t, 3>{600, 700, 800}));
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!"}));

    // The reply's sync word goes out with the next request.
    const std::size_t before = sensor->framesReceived();
    rt_test::Click(panel(), BTNGet);
    ASSERT_GT(sensor->framesReceived(), before);
    EXPECT_EQ(kxsim::FrameWord(sensor->received()[before], -2), 0x1234);
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

TEST_F(Line, GarbageNeverReachesOutsideTheBuffers) {
    std::vector<uint8_t> junk(36 * 5 + 17);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(0xFF - i * 7);
    ASSERT_TRUE(Inject(junk));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 17; }, 2000));
    // Every whole frame was decoded as a block of 16-bit words; the tail waits.
    for (int32_t v : pp) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 65535);
    }
    EXPECT_EQ(rx_flag, 1);
}
