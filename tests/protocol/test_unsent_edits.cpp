// Edits on the parameter fields that have not reached the sensor (or a file)
// are marked until a Send, Get, Teach or file load puts the fields in step.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>
#include <string>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

namespace {

class UnsentEdits : public orv_test::App {
  protected:
    bool Marked(int field) { return rt_test::Mark(panel(), field).rfind("not sent", 0) == 0; }
    bool Unconfirmed(int field) {
        int kind = -1;
        GetCtrlAttribute(panel(), field, ATR_MARK_KIND, &kind);
        return rt_test::Mark(panel(), field).rfind("not confirmed", 0) == 0 && kind == MARK_UNCONFIRMED;
    }
    std::string SendMark() { return rt_test::Mark(panel(), orv::BTNSend); }
    bool StatusShows(const std::string& text) {
        return rt_test::WaitUntil([&] { return rt_test::Text(panel(), orv::TextStatus) == text; }, 5000);
    }
};

TEST_F(UnsentEdits, AreMarkedUntilSendGetOrTeachPutsTheFieldsInStep) {
    using namespace orv;
    EXPECT_FALSE(Marked(NumReference));
    EXPECT_EQ("", SendMark());

    rt_test::EnterNumber(panel(), NumReference, 700);
    rt_test::EnterNumber(panel(), NumPower, 30);
    EXPECT_TRUE(Marked(NumReference));
    EXPECT_TRUE(Marked(NumPower));
    EXPECT_FALSE(Marked(NumTolerance));
    EXPECT_EQ("2 edited fields not sent", SendMark());
    rt_test::EnterNumber(panel(), NumPower, 250);  // back to what it showed
    EXPECT_FALSE(Marked(NumPower));
    EXPECT_EQ("1 edited field not sent", SendMark());

    // Send takes the fields; Get then reads back what was sent.
    rt_test::Click(panel(), BTNSend);
    ASSERT_TRUE(StatusShows("Transmit Ok!"));
    EXPECT_FALSE(Marked(NumReference));
    EXPECT_EQ("", SendMark());

    // Get replaces an edit with the sensor's value.
    rt_test::EnterNumber(panel(), NumTolerance, 99);
    ASSERT_TRUE(Marked(NumTolerance));
    rt_test::Click(panel(), BTNGet);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return rt_test::Int(panel(), NumTolerance) == 128; }, 5000));
    EXPECT_EQ(700, rt_test::Int(panel(), NumReference));
    EXPECT_FALSE(Marked(NumTolerance));

    // Teach sends the fields with its request.
    rt_test::EnterNumber(panel(), NumHysteresis, 12);
    rt_test::Click(panel(), ButtonTeach);
    ASSERT_TRUE(StatusShows("Line Ok!"));
    EXPECT_FALSE(Marked(NumHysteresis));
    EXPECT_EQ("", SendMark());

    // An edit that did not go out stays marked, the other fields are not
    // confirmed, and "Transmit..." stands as a failure.
    rt_test::EnterNumber(panel(), NumAverage, 4);
    CloseCom(com);
    rt_test::Click(panel(), BTNSend);
    EXPECT_EQ(rt_test::Text(panel(), TextStatus), "Transmit...");
    EXPECT_EQ(rt_test::Mark(panel(), TextStatus), "error");
    EXPECT_TRUE(Marked(NumAverage));
    EXPECT_TRUE(Unconfirmed(NumReference));
    EXPECT_EQ("1 edited field not sent", SendMark());
    rt_test::Click(panel(), ButtonTeach);
    ASSERT_TRUE(StatusShows("< 36 Bytes!"));
    EXPECT_TRUE(Marked(NumAverage));
    EXPECT_TRUE(Unconfirmed(NumPower));
    EXPECT_EQ(4, rt_test::Int(panel(), NumAverage));
}

// A Get without an answer shows the values held before; the sensor may hold
// others, so every field says so until a Get completes.
TEST_F(UnsentEdits, AGetWithoutAnswerLeavesEveryFieldNotConfirmedUntilOneCompletes) {
    using namespace orv;
    rt_test::EnterNumber(panel(), NumTolerance, 99);
    sensor->setSilent(true);
    rt_test::Click(panel(), BTNGet);
    ASSERT_TRUE(StatusShows("Timeout RS232-Line!"));
    EXPECT_EQ(128, rt_test::Int(panel(), NumTolerance));  // the value held, as before the edit
    for (int field : {NumPower, NumTolerance, NumReference, NumLinear})
        EXPECT_TRUE(Unconfirmed(field)) << field;
    EXPECT_EQ("", SendMark());
    rt_test::EnterNumber(panel(), NumReference, 640);  // an edit is "not sent" first
    EXPECT_TRUE(Marked(NumReference));

    sensor->setSilent(false);
    rt_test::Click(panel(), BTNGet);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return rt_test::Int(panel(), NumReference) == 512; }, 5000));
    for (int field : {NumPower, NumTolerance, NumReference, NumLinear})
        EXPECT_EQ("", rt_test::Mark(panel(), field)) << field;
}

// With the file target a written file puts the fields in step, and so does a
// loaded one; a cancelled load keeps the edits and their marks.
TEST_F(UnsentEdits, FileWriteAndLoadPutTheFieldsInStepACancelKeepsTheEdits) {
    using namespace orv;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/mine.dat";
    rt_test::Click(panel(), RBTFile);

    rt_test::EnterNumber(panel(), NumReference, 650);
    rt_test::AnswerNextFileDialog(path);
    rt_test::Click(panel(), BTNSend);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return access(path.c_str(), F_OK) == 0; }, 2000));
    EXPECT_FALSE(Marked(NumReference));

    rt_test::EnterNumber(panel(), NumReference, 660);
    rt_test::AnswerNextFileDialog("");
    rt_test::Click(panel(), BTNGet);
    rt_test::Pump(100);
    EXPECT_EQ(660, rt_test::Int(panel(), NumReference));
    EXPECT_TRUE(Marked(NumReference));

    rt_test::AnswerNextFileDialog(path);
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(650, rt_test::Int(panel(), NumReference));
    EXPECT_FALSE(Marked(NumReference));
}

}  // namespace
