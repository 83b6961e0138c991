// Fault matrix of the flash programming: each fault of the line ends every
// page it touches with its message within its time-out, the run ends on a
// message naming what failed, and a later programming succeeds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "com232/corrtable.h"
#include "com232/flash.h"
#include "test_faults_fixture.h"

using namespace orv_fault;

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
        orv_test::WriteRisingCorrSource(Path("KXconfig.dat"));
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
                                           Case{"Garbage", Garbage(36, false)},
                                           Case{"GarbageBefore", Garbage(10, true)},
                                           Case{"HangUp", {}, true}),
                         CaseName);

namespace {

class FlashLate : public FlashFault {};

}  // namespace

// The first reply comes after its exchange has given up, the sensor is prompt
// again from then on: only the first page fails. The late reply is never
// taken as the answer to a later frame, which would shift every later reply
// onto the wrong block.
TEST_P(FlashLate, OneLateReplyFailsOnlyItsPage) {
    kxsim::FlashFault late;  // the first reply of the run, to page 4's first address
    late.enabled = true;
    late.page = 4;
    late.block = 0;
    late.lateMs = 2300;
    sensor->setFlashFault(late);
    const double took = Program();

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

    sensor->setFlashFault({});
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
