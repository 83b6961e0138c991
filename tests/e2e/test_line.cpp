// The background receive notification over a real pseudo-terminal: whole
// replies only, one notification per frame, any sync word, and noise or torn
// frames that never count as a reply.
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
        if (HasFatalFailure())
            return;
        // The sensor stays quiet: the test answers in its place.
        sensor->setSilent(true);
        rt_test::Pump(50);
        Status();
        rx_flag = 0;
        graphrefresh = 0;
        rawbuf = {};
    }
    // A request the program writes, as the commands do, and time for the
    // sensor to have received it.
    uint32_t Ask(int32_t orderCode) {
        const uint32_t seq = WriteRequest(com, orderCode, pp.data());
        rt_test::Pump(25);
        return seq;
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

// A whole reply to a request sets both flags and, with order word 8, the raw
// values; 35 bytes of it set nothing.
TEST_F(Line, WholeReplyFillsRawValuesAndBothFlagsAndPartOfOneNothing) {
    const uint32_t seq = Ask(ORD_MEASURE);
    const auto frame = Bytes(orv_test::Frame(0x55, 8, Words(600, 700, 800)));
    ASSERT_TRUE(Inject({frame.begin(), frame.begin() + 35}));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 0; }, 2000));
    rt_test::Pump(5);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_TRUE(Status().empty());

    ASSERT_TRUE(Inject({frame.back()}));
    ASSERT_TRUE(rt_test::WaitUntil([] { return rx_flag == 1; }, 2000));
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_EQ(rx_answer, seq);
    EXPECT_EQ(rawbuf, (std::array<uint16_t, 3>{600, 700, 800}));
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!"}));
}

// Two requests open, two frames in one piece: two notifications. A reply with
// another sync word is a reply, and the next request carries that word.
TEST_F(Line, TwoFramesForTwoRequestsAndTheSyncWordFollowsTheSensor) {
    Ask(ORD_MEASURE);
    Ask(ORD_READ_RAM);
    auto both = Bytes(orv_test::Frame(0x55, 8, Words(1, 2, 3)));
    const auto second = Bytes(orv_test::Frame(0x1234, 0, Words(4, 5, 6)));
    both.insert(both.end(), second.begin(), second.end());
    ASSERT_TRUE(Inject(both));
    ASSERT_TRUE(rt_test::WaitUntil([] { return pp[0] == 4; }, 2000));
    rt_test::Pump(100);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Line Ok!", "Line Ok!"}));
    EXPECT_EQ(rawbuf[0], 1);  // the second frame's order word is not 8
    EXPECT_EQ(orv::sync, 0x1234);

    const std::size_t before = sensor->framesReceived();
    Ask(ORD_READ_RAM);
    ASSERT_TRUE(sensor->waitForFrames(before + 1, 2000));
    EXPECT_EQ(kxsim::FrameWord(sensor->received()[before], -2), 0x1234);
}

// Bytes on an idle line are noise, whole frames included; a torn frame glued
// to a whole one is never taken for one, whatever the pieces.
TEST_F(Line, NoiseAndTornFramesAreNeverTaken) {
    ASSERT_TRUE(Inject(Bytes(orv_test::Frame(0x55, 8, Words(600, 700, 800)))));
    std::vector<uint8_t> junk(36 * 5 + 17);
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<uint8_t>(0xFF - i * 7);
    ASSERT_TRUE(Inject(junk));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 0; }, 2000));
    rt_test::Pump(150);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_TRUE(Status().empty());  // never "Line Ok!" for noise

    Ask(ORD_MEASURE);
    const auto torn = Bytes(orv_test::Frame(0x55, 8, Words(1, 2, 3)));
    auto line = std::vector<uint8_t>(torn.begin() + 14, torn.end());
    const auto whole = Bytes(orv_test::Frame(0x55, 8, Words(4, 5, 6)));
    line.insert(line.end(), whole.begin(), whole.end());
    for (std::size_t at = 0; at < line.size(); at += 4) {
        ASSERT_TRUE(Inject({line.begin() + static_cast<long>(at),
                            line.begin() + static_cast<long>(std::min(line.size(), at + 4))}));
        rt_test::Pump(2);
    }
    rt_test::Pump(150);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(rawbuf, (std::array<uint16_t, 3>{0, 0, 0}));
    EXPECT_TRUE(Status().empty());
}
