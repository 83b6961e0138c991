// The live scope end to end: Run and Stop on the real panel against the
// simulated sensor, with Stop and other commands pressed from inside the loop.
#include <gtest/gtest.h>

#include <QTimer>
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/chart.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;

namespace {

uint16_t OrderOf(const kxsim::Frame& f) {
    return kxsim::FrameWord(f, -1);
}

bool WindowIsFlat() {
    for (int k = 0; k < NORM_SAMPLES; ++k)
        if (arrayNORM[4 * k] != 640 || arrayNORM[4 * k + 1] != 384 || arrayNORM[4 * k + 2] != 512 ||
            arrayNORM[4 * k + 3] != 0)
            return false;
    return true;
}

class Scope : public orv_test::App {
  protected:
    void SetUp() override {
        App::SetUp();
        Status();
        start = sensor->framesReceived();
    }
    std::size_t start = 0;
};

}  // namespace

TEST_F(Scope, RunWithoutSensorTimesOutAndBecomesIdle) {
    sensor->setSilent(true);
    bool dimmedWhileRunning = false, timerWhileRunning = false;
    rt_test::After(200, [&] {
        dimmedWhileRunning = rt_test::Dimmed(panel(), BTNRun);
        timerWhileRunning = rt_test::TimerEnabled(panel(), Timer50ms);
    });

    rt_test::Click(panel(), BTNRun);  // returns when the loop has ended

    EXPECT_TRUE(dimmedWhileRunning);
    EXPECT_TRUE(timerWhileRunning);
    EXPECT_EQ(Status().back(), "Timeout RS232-Line!");
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
    EXPECT_FALSE(rt_test::TimerEnabled(panel(), Timer50ms));
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_EQ(ttick, 0);
    EXPECT_TRUE(WindowIsFlat());

    const auto frames = FramesSince(start);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(OrderOf(frames[0]), 8);

    // Usable again: a second Run sends its request and times out the same way.
    rt_test::Click(panel(), BTNRun);
    EXPECT_EQ(FramesSince(start).size(), 2u);
}

TEST_F(Scope, StopWhileIdleDoesAllItsSteps) {
    rx_flag = 1;
    graphrefresh = 1;
    SetCtrlAttribute(panel(), BTNRun, ATR_DIMMED, 1);
    SetCtrlAttribute(panel(), Timer50ms, ATR_TIMER_ENABLED, 1);
    arrayNORM[7] = 1234;
    ASSERT_TRUE(sensor->inject({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    ASSERT_TRUE(rt_test::WaitUntil([] { return GetInQLen(com) == 10; }, 2000));
    ttick = 7;

    rt_test::Click(panel(), BTNStop);

    EXPECT_EQ(GetInQLen(com), 0);
    EXPECT_EQ(rx_flag, 0);
    EXPECT_EQ(graphrefresh, 0);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
    EXPECT_FALSE(rt_test::TimerEnabled(panel(), Timer50ms));
    EXPECT_TRUE(WindowIsFlat());
    EXPECT_GE(ttick, 7);  // not reset by Stop
    EXPECT_TRUE(Status().empty());
}

TEST_F(Scope, RunningScopeKeepsGoingUntilStopWithGetAndTeachNestedInside) {
    // Get, Teach and Stop are each pressed once the scope has taken ten more
    // measurements, however slowly the machine runs; a loop that stalled
    // would end on the reply time-out, which the status line would show.
    auto countFrom = [this](std::size_t from, uint16_t order) {
        const auto frames = FramesSince(from);
        return std::count_if(frames.begin(), frames.end(), [order](auto& f) { return OrderOf(f) == order; });
    };
    int phase = 0;
    std::size_t pressedAt = start;
    QTimer presser;
    presser.setInterval(20);
    QObject::connect(&presser, &QTimer::timeout, [&] {
        if (phase > 2 || countFrom(pressedAt, 8) < 10)
            return;
        pressedAt = sensor->framesReceived();
        const int button = phase == 0 ? BTNGet : phase == 1 ? ButtonTeach : BTNStop;
        ++phase;
        rt_test::Click(panel(), button);
    });
    presser.start();

    rt_test::Click(panel(), BTNRun);
    presser.stop();
    const auto status = Status();
    ASSERT_EQ(phase, 3) << "the scope ended on \"" << status.back() << "\"";

    EXPECT_EQ(std::count(status.begin(), status.end(), std::string("Timeout RS232-Line!")), 0);
    EXPECT_NE(std::find(status.begin(), status.end(), std::string("Receive...")), status.end());
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
    EXPECT_FALSE(rt_test::TimerEnabled(panel(), Timer50ms));
    EXPECT_TRUE(WindowIsFlat());  // Stop refilled it

    const auto frames = FramesSince(start);
    const auto measures =
        std::count_if(frames.begin(), frames.end(), [](auto& f) { return OrderOf(f) == 8; });
    EXPECT_GE(measures, 20);
    // The nested Get went out between measurement requests, and the loop went on.
    auto get = std::find_if(frames.begin(), frames.end(), [](auto& f) { return OrderOf(f) == 2; });
    ASSERT_NE(get, frames.end());
    EXPECT_GE(std::count_if(get, frames.end(), [](auto& f) { return OrderOf(f) == 8; }), 10);

    // The nested Get and Teach took parameter blocks, never a measurement
    // reply, so every request carried the parameter variables.
    auto teach = std::find_if(get, frames.end(), [](auto& f) { return OrderOf(f) == 6; });
    ASSERT_NE(teach, frames.end());
    EXPECT_GE(std::count_if(teach, frames.end(), [](auto& f) { return OrderOf(f) == 8; }), 10);
    for (const auto& f : frames) {
        if (OrderOf(f) == 8) {
            ASSERT_EQ(kxsim::FrameWord(f, 0), 500);
            ASSERT_EQ(kxsim::FrameWord(f, 1), 1);
            ASSERT_EQ(kxsim::FrameWord(f, 3), 128);
        }
    }
    EXPECT_EQ(power, 500);
    EXPECT_EQ(powermode, 1);
    EXPECT_EQ(tolerance, 128);
    EXPECT_EQ(reference, sensor->ram()[2]);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), sensor->ram()[2]);

    const auto trace = rt_test::TracePoints(panel(), StripChart, 4);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), static_cast<double>(valNORM));
}

// On a line that hands replies over a few bytes at a time, in the bursts of a
// USB adapter, Get, Teach and Send pressed again and again inside the running
// scope each get their own block or message, and the scope keeps polling.
TEST_F(Scope, CommandsInsideTheScopeOnATricklingLineEachGetTheirReply) {
    sensor->setTrickle(4);
    sensor->setUsbLatency(4);
    const kxsim::Block block = {700, 2, 600, 90, 11, 12, 1, 4, 5, 6, 7, 0, 12, 13, 14, 15};
    sensor->setRam(block);
    std::vector<std::string> failures;
    int gets = 0, teaches = 0, sends = 0;
    int press = 0;
    const std::size_t before = sensor->framesReceived();
    auto measures = [&] {
        const auto frames = FramesSince(before);
        return std::count_if(frames.begin(), frames.end(), [](auto& f) { return OrderOf(f) == 8; });
    };
    long measuredAtLastPress = 0;
    QTimer presser;
    presser.setInterval(130);
    QObject::connect(&presser, &QTimer::timeout, [&] {
        // The next command waits until the scope has polled since the last
        // one; a scope that stopped polling ends the run on its time-out.
        const long now = measures();
        if (now <= measuredAtLastPress)
            return;
        measuredAtLastPress = now;
        Status();
        switch (press++ % 3) {
            case 0:
                rt_test::Click(panel(), BTNGet);
                ++gets;
                if (power != 700 || para15 != 15 || tolerance != 90)
                    failures.push_back("Get " + std::to_string(gets) + ": block not taken");
                break;
            case 1:
                rt_test::Click(panel(), ButtonTeach);
                ++teaches;
                if (reference != sensor->ram()[2] || hold != 7)
                    failures.push_back("Teach " + std::to_string(teaches) + ": block not taken");
                break;
            default:
                rt_test::Click(panel(), BTNSend);
                ++sends;
                break;
        }
        for (const std::string& s : Status())
            if (s != "Receive..." && s != "Transmit Ok!" && s != "Line Ok!" && s != "Transmit..." &&
                s != "Teach new Reference-Value ...")
                failures.push_back(s);
        if (press == 18)
            rt_test::Click(panel(), BTNStop);
    });
    presser.start();
    rt_test::Click(panel(), BTNRun);  // returns at Stop, or stuck for good
    presser.stop();

    EXPECT_TRUE(failures.empty()) << ::testing::PrintToString(failures);
    EXPECT_EQ(gets + teaches + sends, 18);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
}

// A reply on its way when Stop is pressed arrives with nobody waiting; the
// next Run plots it first, before its own request is answered.
TEST_F(Scope, ReplyAfterStopIsPlottedByTheNextRun) {
    sensor->setDelayMs(400);
    rt_test::After(200, [this] { rt_test::Click(panel(), BTNStop); });
    rt_test::Click(panel(), BTNRun);
    ASSERT_TRUE(rt_test::WaitUntil([] { return graphrefresh == 1; }, 3000));
    EXPECT_EQ(rx_flag, 1);
    const std::array<uint16_t, 3> raw = rawbuf;

    sensor->setSilent(true);
    rt_test::Click(panel(), BTNRun);

    // Exactly one sample was plotted: that reply, after 99 flat samples.
    EXPECT_EQ(arrayNORM[399], raw[0]);
    EXPECT_EQ(arrayNORM[396], 640.0);
    EXPECT_EQ(arrayNORM[395], 0.0);
    EXPECT_EQ(arrayNORM[392], 640.0);
    EXPECT_EQ(rt_test::Int(panel(), NumValue), raw[0]);
    EXPECT_EQ(rawbuf, raw);
    EXPECT_EQ(Status().back(), "Timeout RS232-Line!");
}
