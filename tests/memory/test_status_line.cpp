// The status line while the live scope runs: a failure stays over the
// scope's "Line Ok!" of every sample, marked as an error, until the operator
// dismisses it or starts another command; the history keeps every text shown
// with repeats counted and errors marked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/report.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

constexpr const char* kPage5 = "error : T460 FLASH page5 not written!";

class StatusLine : public orv_test::App {
  protected:
    QTemporaryDir dir;

    void BeforeStartUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(0, chdir(dir.path().toLocal8Bit().constData()));
        orv_test::WriteRisingCorrSource(Path("KXconfig.dat"));
    }
    std::string Path(const std::string& name) const { return dir.path().toStdString() + "/" + name; }

    // What the status line shows, its mark, and whether Dismiss can be pressed.
    struct Seen {
        std::string text, mark;
        bool dismissable = false;
    };
    Seen Now() {
        return {rt_test::Text(panel(), orv::TextStatus), rt_test::Mark(panel(), orv::TextStatus),
                !rt_test::Dimmed(panel(), orv::BTNDismiss)};
    }
    long MeasurementsSince(std::size_t frames) const {
        const auto f = FramesSince(frames);
        return std::count_if(f.begin(), f.end(), [](const auto& x) { return kxsim::FrameWord(x, -1) == 8; });
    }
};

}  // namespace

TEST_F(StatusLine, AFailureStaysOverTheScopeUntilDismissedOrAnotherCommandAndTheHistoryKeepsIt) {
    // A flash programming whose page 5 is refused, inside the running scope.
    kxsim::FlashFault refused;
    refused.enabled = true;
    refused.page = 5;
    refused.block = 3;
    refused.data = true;
    sensor->setFlashFault(refused);
    Seen held, dismissed;
    std::size_t framesAfterFlash = 0;
    long measuredWhileHeld = 0;
    rt_test::After(300, [&] {
        rt_test::Click(panel(), orv::RBTFile);
        rt_test::AnswerNextFileDialog(Path("KXconfig.dat"));
        rt_test::Click(panel(), orv::BTNSend);
        framesAfterFlash = sensor->framesReceived();
        rt_test::After(1000, [&] {
            held = Now();
            measuredWhileHeld = MeasurementsSince(framesAfterFlash);
            rt_test::Click(panel(), orv::BTNDismiss);
            rt_test::After(300, [&] {
                dismissed = Now();
                rt_test::Click(panel(), orv::BTNStop);
            });
        });
    });
    rt_test::Click(panel(), orv::BTNRun);

    EXPECT_EQ(held.text, kPage5);
    EXPECT_EQ(held.mark, "error");
    EXPECT_TRUE(held.dismissable);
    EXPECT_GT(measuredWhileHeld, 10);  // the scope measured on underneath
    EXPECT_EQ(dismissed.text, "Line Ok!");
    EXPECT_EQ(dismissed.mark, "");
    EXPECT_FALSE(dismissed.dismissable);

    // Without the scope the last text stands; Run is another command.
    sensor->setFlashFault({});
    sensor->setSilent(true);
    rt_test::Click(panel(), orv::RBTRam);
    rt_test::Click(panel(), orv::BTNGet);
    EXPECT_EQ(Now().text, "Timeout RS232-Line!");
    EXPECT_EQ(Now().mark, "error");
    sensor->setSilent(false);
    Seen running;
    rt_test::After(300, [&] {
        running = Now();
        rt_test::Click(panel(), orv::BTNStop);
    });
    rt_test::Click(panel(), orv::BTNRun);
    EXPECT_EQ(running.text, "Line Ok!");
    EXPECT_EQ(running.mark, "");

    // The history: every text once per run of repeats, each failure marked.
    const auto history = rt_test::StatusHistory(panel(), orv::TextStatus);
    ASSERT_GE(history.size(), 8u);
    EXPECT_EQ(history[0].text, "InitVars");
    EXPECT_EQ(history[1].text, "Echo Check - Line Ok!");
    EXPECT_EQ(history[2].text, "Line Ok!");
    EXPECT_GT(history[2].count, 5);  // the scope's samples before the programming
    for (std::size_t i = 0; i < history.size(); ++i) {
        EXPECT_EQ(history[i].error, orv::IsFailureStatus(history[i].text.c_str())) << history[i].text;
        if (i > 0 && !history[i - 1].error) {
            EXPECT_NE(history[i].text, history[i - 1].text) << "not folded at " << i;
        }
    }
    const auto page5 =
        std::find_if(history.begin(), history.end(), [](const auto& e) { return e.text == kPage5; });
    ASSERT_NE(page5, history.end());
    EXPECT_TRUE(page5->error);
    ASSERT_NE(page5 + 1, history.end());
    EXPECT_EQ(page5[1].text, "Line Ok!");  // after the dismissal, not before
    EXPECT_GT(page5[1].count, 3);
    EXPECT_EQ(history.back().text, "Line Ok!");

    // At least the newest 500 are kept, however long the program runs.
    for (int i = 0; i < 1200; ++i)
        orv::ShowStatus(i % 2 ? "Receive..." : "Transmit...");
    const auto kept = rt_test::StatusHistory(panel(), orv::TextStatus);
    EXPECT_GE(kept.size(), 500u);
    EXPECT_LE(kept.size(), 1200u);
    EXPECT_EQ(kept.back().text, "Receive...");
}
