// Shared by the fault-matrix tests: the program against a simulated sensor
// whose line misbehaves, with the checks every fault case ends with: how long
// the command took, whether the panel is usable, and whether a good exchange
// works again once the fault is gone.
#pragma once

#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace orv_fault {

// The runtime's clock: the steady clock on the real runtime, virtual time on
// the in-memory one, so the same bounds hold on both.
struct Clock {
    using time_point = double;
    static time_point now() { return Timer(); }
};

// Slack on top of a time-out: a hang fails the test, a loaded machine does not.
constexpr double kSlackS = 3.0;
constexpr double kReplyTimeoutS = 1.3;  // 26 ticks of 50 ms
constexpr double kReadTimeoutS = 2.05;  // pause before the read + the port's read time-out

inline double SecondsSince(Clock::time_point t) {
    return Clock::now() - t;
}

inline double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

// A sensor block no default matches, so a panel showing it came off the line.
const kxsim::Block kGoodBlock = {700, 2, 600, 90, 11, 12, 0, 4, 5, 6, 7, 0, 12, 13, 14, 15};

inline kxsim::Faults Silent() {
    kxsim::Faults f;
    f.silent = true;
    return f;
}
inline kxsim::Faults Short(int bytes) {
    kxsim::Faults f;
    f.shortBytes = bytes;
    return f;
}
inline kxsim::Faults Garbage(int bytes, bool before) {
    kxsim::Faults f;
    f.garbage = bytes;
    f.garbageBefore = before;
    return f;
}
inline kxsim::Faults Late(int ms) {
    kxsim::Faults f;
    f.delayMs = ms;
    return f;
}

// One case of a fault matrix: the sensor's faults, and whether the line closes
// after the command's first frame.
struct Case {
    const char* name;
    kxsim::Faults faults;
    bool hangup = false;
};

inline void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

inline std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

inline long Count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<long>(std::count(v.begin(), v.end(), s));
}

inline long MeasureRequests(const std::vector<kxsim::Frame>& frames) {
    return static_cast<long>(std::count_if(frames.begin(), frames.end(),
                                           [](const auto& f) { return kxsim::FrameWord(f, -1) == 8; }));
}

class Faulty : public orv_test::App {
  protected:
    void SetUp() override {
        App::SetUp();
        if (HasFatalFailure())
            return;
        // The start-up line check's reply has been read; nothing else waits.
        rt_test::Pump(50);
        Status();
    }

    // Runs `command` and returns how long it took, in seconds.
    template <class F>
    double Timed(F&& command) {
        const auto t = Clock::now();
        command();
        return SecondsSince(t);
    }

    std::string Last() { return rt_test::Text(panel(), orv::TextStatus); }

    // The scope is idle and its Run button can be pressed.
    void ExpectIdle() {
        EXPECT_FALSE(rt_test::Dimmed(panel(), orv::BTNRun));
        EXPECT_FALSE(rt_test::TimerEnabled(panel(), orv::Timer50ms));
        EXPECT_EQ(orv::stop_flag, 1);
    }

    // Lets replies the sensor still owes (late ones) arrive and be taken by
    // the receive notification, so they cannot answer a later request.
    void AwaitReplies(std::size_t total) {
        ASSERT_TRUE(sensor->waitForReplies(total, 6000));
        rt_test::Pump(150);
    }

    // The fault is gone: a Get from RAM brings the sensor's block to the panel.
    void ExpectGoodGet() {
        sensor->setFaults({});
        sensor->setRam(kGoodBlock);
        rt_test::Click(panel(), orv::RBTRam);
        Status();
        const double took = Timed([&] { rt_test::Click(panel(), orv::BTNGet); });
        EXPECT_LT(took, kReplyTimeoutS + kSlackS);
        EXPECT_EQ(Last(), "Line Ok!");
        EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 600);
        EXPECT_EQ(rt_test::Int(panel(), orv::NumTolerance), 90);
        EXPECT_EQ(orv::power, 700);
        EXPECT_EQ(orv::para15, 15);
    }

    // The line went away: a new sensor is plugged in where port 1 leads and
    // the operator picks port 1 in the ring again.
    void Replug(const kxsim::Options& options = {}) {
        auto fresh = std::make_unique<kxsim::Sensor>(orv_test::LineOptions(options));
        std::string error;
        ASSERT_TRUE(fresh->start(&error)) << error;
        setenv("ORVANSCOPE_COM1", fresh->devicePath().c_str(), 1);
        old.push_back(std::move(sensor));
        sensor = std::move(fresh);
        Status();
        rt_test::ChooseRing(panel(), orv::DropDCom, 0);
        ASSERT_EQ(orv::com, 1);
        EXPECT_EQ(Last(), "Echo Check - Line Ok!");
    }

    // Hangs the line up once the sensor has received `frames` more frames
    // (answering none of them), and waits until the device is gone.
    void HangUpAfter(std::size_t frames) {
        sensor->setSilent(true);
        sensor->setHangupAfter(static_cast<int>(sensor->framesReceived() + frames));
    }

    std::vector<std::unique_ptr<kxsim::Sensor>> old;  // replaced sensors
};

}  // namespace orv_fault
