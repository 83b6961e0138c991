// Fault matrix of the live scope and of the flash programming: each fault of
// the line ends the command with its message within its time-out, leaves the
// panel usable and lets a later good run or programming work again.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "com232/corrtable.h"
#include "com232/flash.h"
#include "gui/chart.h"
#include "test_faults_fixture.h"

using namespace orv_fault;

namespace {

struct Case {
    const char* name;
    kxsim::Faults faults;
    bool hangup = false;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

long Count(const std::vector<std::string>& v, const std::string& s) {
    return static_cast<long>(std::count(v.begin(), v.end(), s));
}

long MeasureRequests(const std::vector<kxsim::Frame>& frames) {
    return static_cast<long>(std::count_if(frames.begin(), frames.end(),
                                           [](const auto& f) { return kxsim::FrameWord(f, -1) == 8; }));
}

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
                                           Case{"Garbage", Garbage(36, false)},
                                           Case{"LateReply", Late(1800)}),
                         CaseName);

namespace {

class ScopeNoise : public Faulty, public ::testing::WithParamInterface<Case> {};

}  // namespace

// Noise before every reply is dropped and the reply behind it found: the
// scope goes on measuring until Stop, and faster again once the noise ends.
TEST_P(ScopeNoise, RunGoesOnUntilStopAndMeasuresAgainWhenTheNoiseEnds) {
    sensor->setFaults(GetParam().faults);
    const std::size_t before = sensor->framesReceived();
    rt_test::After(1000, [this] { sensor->setFaults({}); });
    rt_test::After(2500, [this] { rt_test::Click(panel(), orv::BTNStop); });

    const double took = Timed([&] { rt_test::Click(panel(), orv::BTNRun); });

    EXPECT_LT(took, 2.5 + kSlackS);
    EXPECT_EQ(Count(Status(), "Timeout RS232-Line!"), 0);
    ExpectIdle();
    const auto frames = FramesSince(before);
    EXPECT_GE(MeasureRequests(frames), 10);
    // The last requests were answered by real measurements again.
    EXPECT_EQ(orv::order, 8);
    EXPECT_EQ(orv::valNORM, orv::rawbuf[0]);
}

INSTANTIATE_TEST_SUITE_P(Faults, ScopeNoise, ::testing::Values(Case{"GarbageBefore", Garbage(10, true)}),
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

// --------------------------------------------------------- flash programming

namespace {

const char* const kPageError[] = {
    "error : T460 FLASH page4-write <255 words!", "error : T460 FLASH page5-write <255 words!",
    "error : T460 FLASH page6-write <255 words!", "error : T460 FLASH page7-write <255 words!"};
const char* const kLastPageOk = "ok : T460 FLASH page7-write 255 words!";
const char* const kNoPageWritten = "error : T460 FLASH page4 page5 page6 page7 not written!";

// Send with the file target and the project's correction source chosen.
class FlashProgramming : public Faulty {
  protected:
    QTemporaryDir dir;

    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.fast = true;  // the sequence's own waits dominate
        return o;
    }
    void BeforeStartUp() override {
        // The project directory is the working directory at start-up.
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(0, chdir(dir.path().toLocal8Bit().constData()));
        // Table entry i is 3·i + 1: positions in order, values rising.
        std::ofstream out(Path("KXconfig.dat"));
        for (int group = 0; group < 3; ++group)
            for (int j = 0; j < 1024; ++j)
                out << (group == 0 ? 3 * j + 1 : group == 1 ? j : 0) << (j % 16 == 15 ? "\n" : " ");
    }
    void SetUp() override {
        Faulty::SetUp();
        if (HasFatalFailure())
            return;
        rt_test::Click(panel(), orv::RBTFile);
        ASSERT_EQ(orv::DATFILE, orv::target);
        Status();
    }
    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    double Program() {
        rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
        return Timed([&] { rt_test::Press(panel(), orv::BTNSend); });
    }
    void ExpectProgrammed() {
        for (int page = 4; page <= 7; ++page) {
            const kxsim::Page got = sensor->flashPage(page);
            for (int i = 0; i < 256; ++i)
                ASSERT_EQ(3 * ((page - 4) * 256 + i) + 1, got[i]) << "page " << page << " word " << i;
        }
    }
};

class FlashFault : public FlashProgramming, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(FlashFault, EveryPageReportsItsErrorAndALaterProgrammingSucceeds) {
    const Case& c = GetParam();
    sensor->setFaults(c.faults);
    if (c.hangup)
        sensor->setHangupAfter(static_cast<int>(sensor->framesReceived() + 10));  // in block 5 of page 4

    const double took = Program();

    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.front(), "Transmit...");
    EXPECT_EQ(shown.back(), kNoPageWritten);
    for (const char* e : kPageError)
        EXPECT_EQ(Count(shown, e), 1) << e;
    EXPECT_EQ(Count(shown, kLastPageOk), 0);
    // At most one text per block exchange, one per page and the summary.
    EXPECT_LE(shown.size(), 1u + 64u + 4u + 1u);
    EXPECT_EQ(rt_test::Int(panel(), orv::NumValue), 0);
    // Every page gives up in its first failed exchange, which waits at most
    // the read time-out; the waits between blocks and pages come on top.
    EXPECT_LT(took, 4 * kReadTimeoutS + 2.0 + kSlackS);
    ExpectIdle();

    if (c.hangup) {
        ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));
        kxsim::Options fast;
        fast.fast = true;
        Replug(fast);
    } else {
        sensor->setFaults({});
    }
    Status();
    Program();
    EXPECT_EQ(Last(), kLastPageOk);
    EXPECT_EQ(Count(Status(), kLastPageOk), 1);
    ExpectProgrammed();
}

INSTANTIATE_TEST_SUITE_P(Faults, FlashFault,
                         ::testing::Values(Case{"Silent", Silent()}, Case{"ShortReply", Short(20)},
                                           Case{"Garbage", Garbage(36, false)}, Case{"HangUp", {}, true}),
                         CaseName);

namespace {

class FlashNoise : public FlashProgramming {};

}  // namespace

// Noise before every reply is dropped and the reply behind it found: every
// page is programmed.
TEST_F(FlashNoise, NoiseBeforeEveryReplyProgramsEveryPage) {
    sensor->setFaults(Garbage(10, true));
    Program();
    const auto shown = Status();
    EXPECT_EQ(shown.back(), kLastPageOk);
    for (const char* e : kPageError)
        EXPECT_EQ(Count(shown, e), 0) << e;
    ExpectProgrammed();
}

namespace {

class FlashLate : public FlashFault {};

}  // namespace

// The first reply comes after its exchange has given up, the sensor is prompt
// again from then on: only the first page fails. The late reply is never
// taken as the answer to a later frame, which would shift every later reply
// onto the wrong block.
TEST_P(FlashLate, OneLateReplyFailsOnlyItsPage) {
    const std::size_t before = sensor->framesReceived();
    sensor->setDelayMs(2300);
    std::thread prompt([&] {
        sensor->waitForFrames(before + 1, 5000);
        sensor->setDelayMs(0);
    });
    const double took = Program();
    prompt.join();

    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(Count(shown, kPageError[0]), 1);
    EXPECT_EQ(Count(shown, "ok : T460 FLASH page5-write 255 words!"), 1);
    EXPECT_EQ(Count(shown, "ok : T460 FLASH page6-write 255 words!"), 1);
    EXPECT_EQ(Count(shown, kLastPageOk), 1);
    EXPECT_EQ(shown.back(), "error : T460 FLASH page4 not written!");
    EXPECT_LT(took, kReadTimeoutS + 3 * 2.0 + kSlackS);
    for (int page = 5; page <= 7; ++page) {
        const kxsim::Page got = sensor->flashPage(page);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(3 * ((page - 4) * 256 + i) + 1, got[i]) << "page " << page << " word " << i;
    }
    ExpectIdle();

    Status();
    Program();
    EXPECT_EQ(Last(), kLastPageOk);
    ExpectProgrammed();
}

INSTANTIATE_TEST_SUITE_P(Faults, FlashLate, ::testing::Values(Case{"LateReply", {}}), CaseName);

namespace {

struct LateCase {
    const char* name;
    bool data;
    int lateMs;
    std::vector<int> failedPages;
};

void PrintTo(const LateCase& c, std::ostream* os) {
    *os << c.name;
}

class FlashLateCases : public FlashProgramming, public ::testing::WithParamInterface<LateCase> {};

}  // namespace

// A reply of block 3 of page 5 comes after its exchange has given up: that
// page fails, and the late reply answers no later frame, so the pages after
// it are programmed. A sensor that late also answers the next page's first
// frame behind it: more than about 4 s late, that page fails as well.
TEST_P(FlashLateCases, ALateReplyFailsItsPageAndNoOther) {
    const LateCase& c = GetParam();
    kxsim::FlashFault f;
    f.enabled = true;
    f.page = 5;
    f.block = 3;
    f.data = c.data;
    f.lateMs = c.lateMs;
    sensor->setFlashFault(f);
    Program();
    const auto shown = Status();
    for (int page = 4; page <= 7; ++page) {
        const bool failed =
            std::find(c.failedPages.begin(), c.failedPages.end(), page) != c.failedPages.end();
        EXPECT_EQ(Count(shown, kPageError[page - 4]), failed ? 1 : 0) << "page " << page;
        if (failed)
            continue;
        const kxsim::Page got = sensor->flashPage(page);
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ(3 * ((page - 4) * 256 + i) + 1, got[i]) << "page " << page << " word " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FlashLateCases,
                         ::testing::Values(LateCase{"Data3000", true, 3000, {5}},
                                           LateCase{"Address5000", false, 5000, {5, 6}}),
                         [](const ::testing::TestParamInfo<LateCase>& info) { return info.param.name; });
