// Fault matrix of the live scope: each fault of the line ends the run with its
// message within its time-out, leaves the panel usable and lets a later good
// run work again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTimer>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "gui/chart.h"
#include "test_faults_fixture.h"

using namespace orv_fault;

namespace {

// ---------------------------------------------------------------- live scope

class ScopeFault : public Faulty, public ::testing::WithParamInterface<Case> {
  protected:
    // A good run: measurements keep coming until Stop, well past the time-out.
    void ExpectGoodRun() {
        sensor->setFaults({});
        Status();
        const std::size_t before = sensor->framesReceived();
        rt_test::After(1800, [this] { rt_test::Click(panel(), orv::BTNStop); });
        rt_test::Click(panel(), orv::BTNRun);
        EXPECT_EQ(Count(Status(), "Timeout RS232-Line!"), 0);
        EXPECT_GE(MeasureRequests(FramesSince(before)), 10);
        ExpectIdle();
    }
};

}  // namespace

// Noise glued to the reply never divides into frames: nothing of it is drawn,
// and the run ends as without a reply.
TEST_P(ScopeFault, SilentOrTornRepliesEndTheRunWithTimeout) {
    sensor->setFaults(GetParam().faults);
    const std::size_t before = sensor->framesReceived();
    const std::size_t repliesBefore = sensor->repliesSent();

    const double took = Timed([&] { rt_test::Click(panel(), orv::BTNRun); });

    EXPECT_GE(took, kReplyTimeoutS - 0.1);
    EXPECT_LT(took, kReplyTimeoutS + kSlackS);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Timeout RS232-Line!"}));
    EXPECT_EQ(FramesSince(before).size(), 1u);  // one request, never answered in full
    ExpectIdle();

    AwaitReplies(repliesBefore + (GetParam().faults.silent ? 0 : 1));
    ExpectGoodRun();
}

INSTANTIATE_TEST_SUITE_P(Faults, ScopeFault,
                         ::testing::Values(Case{"Silent", Silent()}, Case{"ShortReply", Short(20)},
                                           Case{"ShortReplyOneByteMissing", Short(35)},
                                           Case{"Garbage", Garbage(40, false)},
                                           Case{"GarbageBefore", Garbage(10, true)},
                                           Case{"LateReply", Late(1800)}),
                         CaseName);

namespace {

class ScopeHangUp : public Faulty {};

}  // namespace

TEST_F(ScopeHangUp, ScopeWhoseLineHangsUpStopsQuietlyAndRunsAgainAfterReplug) {
    double cpuAtHangup = -1;
    Clock::time_point hangupAt{};
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (cpuAtHangup < 0 && sensor->hungUp()) {
            cpuAtHangup = CpuMs();
            hangupAt = Clock::now();
        }
    });
    watch.start();
    QTimer::singleShot(500,
                       [this] { sensor->setHangupAfter(static_cast<int>(sensor->framesReceived() + 3)); });

    const double took = Timed([&] { rt_test::Click(panel(), orv::BTNRun); });
    watch.stop();

    ASSERT_GE(cpuAtHangup, 0) << "the line did not hang up while the scope ran";
    const double deadSeconds = SecondsSince(hangupAt);
    EXPECT_LT(CpuMs() - cpuAtHangup, 0.5 * deadSeconds * 1000.0) << "the wait on a dead line must sleep";
    EXPECT_LT(deadSeconds, kReplyTimeoutS + kSlackS);
    EXPECT_LT(took, 0.5 + kReplyTimeoutS + kSlackS);

    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "Timeout RS232-Line!");
    // One "Line Ok!" per reply, nothing for the dead line.
    EXPECT_LE(shown.size(), sensor->repliesSent() + 1);
    ExpectIdle();

    Replug();
    Status();
    rt_test::After(1800, [this] { rt_test::Click(panel(), orv::BTNStop); });
    rt_test::Click(panel(), orv::BTNRun);
    EXPECT_EQ(Count(Status(), "Timeout RS232-Line!"), 0);
    EXPECT_GE(MeasureRequests(sensor->received()), 10);
    ExpectIdle();
}
