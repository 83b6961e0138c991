// Fault matrix of the line check, Get, Send and Teach: each fault of the line
// ends the command with its message within its time-out, leaves the panel
// usable and lets a later good exchange work again. A line that has vanished
// neither floods the status line nor spins the processor.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <ostream>
#include <string>
#include <vector>

#include "test_faults_fixture.h"

using namespace orv_fault;

namespace {

// ---------------------------------------------------------------- line check

class LineCheckFault : public Faulty, public ::testing::WithParamInterface<Case> {
  protected:
    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.faults = GetParam().faults;
        if (GetParam().hangup) {
            o.faults.silent = true;
            o.faults.hangupAfter = 1;
        }
        return o;
    }
    void SetUp() override {
        const auto t = Clock::now();
        Faulty::SetUp();
        startSeconds = SecondsSince(t);
    }
    double startSeconds = 0;
};

}  // namespace

TEST_P(LineCheckFault, StartUpReportsTheLineAndAGetWorksOnceItIsMended) {
    if (HasFatalFailure())
        return;
    // The echo frame went out, its reply was judged within the read time-out.
    EXPECT_EQ(sensor->framesReceived(), 1u);
    EXPECT_LT(startSeconds, kReadTimeoutS + kSlackS);
    ExpectIdle();

    // Noise in place of the echo, or glued to it, is an answer, but none that
    // divides into frames: a read error, never a guess.
    const std::string name = GetParam().name;
    const char* expected = name == "Garbage" || name == "WrongEcho" || name == "GarbageBefore"
                               ? "read error - not sync byte 0xAA!"
                               : "Timeout < 36 Bytes";
    // Faulty::SetUp has taken the start-up texts; the verdict stays in szStatus.
    EXPECT_EQ(orv::szStatus.data(), std::string(expected));

    if (GetParam().hangup) {
        ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));
        Replug();
    } else {
        AwaitReplies(GetParam().faults.silent ? 0 : 1);
    }
    ExpectGoodGet();
}

INSTANTIATE_TEST_SUITE_P(Faults, LineCheckFault,
                         ::testing::Values(Case{"Silent", Silent()}, Case{"ShortReply", Short(20)},
                                           Case{"Garbage", Garbage(40, false)},
                                           Case{"GarbageBefore", Garbage(10, true)},
                                           Case{"LateReply", Late(2300)},
                                           Case{"WrongEcho",
                                                [] {
                                                    kxsim::Faults f;
                                                    f.echoWord = 0x55;
                                                    return f;
                                                }()},
                                           Case{"HangUp", {}, true}),
                         CaseName);

// ----------------------------------------------------------------------- Get

namespace {

struct GetCase {
    const char* name;
    kxsim::Faults faults;
    bool eeprom = false;
    bool hangup = false;
};

void PrintTo(const GetCase& c, std::ostream* os) {
    *os << c.name;
}

class GetFault : public Faulty, public ::testing::WithParamInterface<GetCase> {};

}  // namespace

TEST_P(GetFault, EndsWithTimeoutAndKeepsTheVariables) {
    const GetCase& c = GetParam();
    if (c.eeprom)
        rt_test::Click(panel(), orv::RBTEeprom);
    sensor->setRam(kGoodBlock);
    sensor->setFaults(c.faults);
    if (c.hangup)
        HangUpAfter(1);
    Status();
    const std::size_t repliesBefore = sensor->repliesSent();
    const std::size_t framesBefore = sensor->framesReceived();

    const double cpu0 = CpuMs();
    const double took = Timed([&] { rt_test::Click(panel(), orv::BTNGet); });
    const double cpu = CpuMs() - cpu0;

    ASSERT_EQ(sensor->framesReceived(), framesBefore + 1);
    EXPECT_EQ(kxsim::FrameWord(sensor->received().back(), -1), c.eeprom ? 4 : 2);
    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "Timeout RS232-Line!");
    // The command's own texts only: noise is never taken for a frame.
    EXPECT_LE(shown.size(), 3u);
    EXPECT_EQ(std::count(shown.begin(), shown.end(), std::string("Line Ok!")), 0);
    EXPECT_GE(took, kReplyTimeoutS - 0.1);
    EXPECT_LT(took, kReplyTimeoutS + kSlackS);
    EXPECT_LT(cpu, 0.5 * took * 1000.0) << "the wait must sleep, not spin";

    // Whatever came in, no part of it reached the variables or the panel.
    EXPECT_EQ(orv::reference, 512);
    EXPECT_EQ(orv::tolerance, 128);
    EXPECT_EQ(orv::power, 500);
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 512);
    ExpectIdle();

    if (c.hangup) {
        ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));
        Replug();
    } else {
        AwaitReplies(repliesBefore + (c.faults.silent ? 0 : 1));
    }
    ExpectGoodGet();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, GetFault,
    ::testing::Values(GetCase{"Silent", Silent()}, GetCase{"ShortReply", Short(20)},
                      GetCase{"ShortReplyEeprom", Short(35), true}, GetCase{"Garbage", Garbage(40, false)},
                      GetCase{"GarbageEeprom", Garbage(40, false), true},
                      GetCase{"GarbageBefore", Garbage(10, true)}, GetCase{"LateReply", Late(1800)},
                      GetCase{"LateReplyEeprom", Late(1800), true}, GetCase{"HangUp", {}, false, true}),
    [](const ::testing::TestParamInfo<GetCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------- Send

namespace {

class SendFault : public Faulty {};

}  // namespace

// Send reads nothing back, so a silent, slow or garbling sensor cannot be
// told from a good one: the write alone decides "Transmit Ok!".
TEST_F(SendFault, RepliesDoNotMatterOnlyTheWrite) {
    const std::size_t before = sensor->framesReceived();
    for (const kxsim::Faults& f : {Silent(), Short(20), Garbage(40, false), Late(2300)}) {
        sensor->setFaults(f);
        const double took = Timed([&] { rt_test::Press(panel(), orv::BTNSend); });
        EXPECT_LT(took, 1.0);
        EXPECT_EQ(Status(), (std::vector<std::string>{"Transmit...", "Transmit Ok!"}));
        rt_test::Release(panel(), orv::BTNSend);
    }
    ASSERT_TRUE(sensor->waitForFrames(before + 4, 2000));
    ExpectIdle();
    ExpectGoodGet();
}

TEST_F(SendFault, VanishedLineSaysSoAndAReplugWorks) {
    sensor->setHangupAfter(static_cast<int>(sensor->framesReceived()));
    ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));
    rt_test::Pump(100);

    // The frame cannot be written: "Transmit Ok!" never comes, and the edits
    // stay marked.
    rt_test::EnterNumber(panel(), orv::NumReference, 630);
    Status();
    const double took = Timed([&] { rt_test::Click(panel(), orv::BTNSend); });
    EXPECT_LT(took, 2.0 + kSlackS);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Transmit..."}));
    EXPECT_FALSE(rt_test::Mark(panel(), orv::NumReference).empty());
    ExpectIdle();

    Replug();
    rt_test::EnterNumber(panel(), orv::NumReference, 640);
    rt_test::Click(panel(), orv::BTNSend);
    EXPECT_EQ(Last(), "Transmit Ok!");
    ASSERT_TRUE(sensor->waitForFrames(2, 2000));
    EXPECT_TRUE(rt_test::WaitUntil([&] { return sensor->ram()[2] == 640; }, 2000));
}

// ---------------------------------------------------- noise before replies

namespace {

class NoisyLine : public Faulty {};

}  // namespace

// Noise glued to every reply: nothing divides into frames, so Get and Teach
// fail with their time-outs and nothing of the bytes reaches the panel; once
// the noise is gone both work again.
TEST_F(NoisyLine, NoiseGluedToRepliesNeverReachesThePanel) {
    sensor->setRam(kGoodBlock);
    sensor->setFaults(Garbage(10, true));
    Status();
    rt_test::Click(panel(), orv::BTNGet);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Receive...", "Transmit Ok!", "Timeout RS232-Line!"}));
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 512);

    rt_test::Click(panel(), orv::ButtonTeach);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Teach new Reference-Value ...", "Line Ok!", "Line Ok!",
                                                  "< 36 Bytes!"}));
    EXPECT_EQ(orv::reference, 512);
    EXPECT_EQ(orv::tolerance, 128);
    EXPECT_EQ(orv::sync, 85);

    AwaitReplies(sensor->repliesSent());
    ExpectGoodGet();
}

// --------------------------------------------------------------------- Teach

namespace {

class TeachFault : public Faulty, public ::testing::WithParamInterface<Case> {};

}  // namespace

TEST_P(TeachFault, KeepsThePanelAndALaterTeachWorks) {
    const Case& c = GetParam();
    rt_test::EnterNumber(panel(), orv::NumReference, 700);
    sensor->setFaults(c.faults);
    if (c.hangup)
        HangUpAfter(1);  // after the order-6 frame: the order-2 request goes unanswered
    const std::size_t repliesBefore = sensor->repliesSent();
    Status();

    const double took = Timed([&] { rt_test::Click(panel(), orv::ButtonTeach); });

    const auto shown = Status();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "< 36 Bytes!");
    EXPECT_LE(shown.size(), 4u);
    EXPECT_LT(took, kReadTimeoutS + kSlackS);
    // The panel keeps what the operator entered; nothing of the reply got in.
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 700);
    EXPECT_EQ(orv::reference, 700);
    EXPECT_EQ(orv::tolerance, 128);
    EXPECT_EQ(orv::sync, 85);
    ExpectIdle();

    if (c.hangup) {
        ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));
        Replug();
    } else {
        AwaitReplies(repliesBefore + (c.faults.silent ? 0 : 1));
        sensor->setFaults({});
    }
    // A good Teach: the panel shows the reference the sensor has just taught.
    Status();
    rt_test::Click(panel(), orv::ButtonTeach);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Teach new Reference-Value ...", "Line Ok!", "Line Ok!"}));
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), sensor->ram()[2]);
    EXPECT_EQ(orv::reference, sensor->ram()[2]);
    EXPECT_EQ(orv::tolerance, 128);
}

INSTANTIATE_TEST_SUITE_P(Faults, TeachFault,
                         ::testing::Values(Case{"Silent", Silent()}, Case{"ShortReply", Short(20)},
                                           Case{"Garbage", Garbage(40, false)}, Case{"LateReply", Late(2300)},
                                           Case{"HangUp", {}, true}),
                         CaseName);

// ------------------------------------------------------------ vanished line

namespace {

class DeadLine : public Faulty {};

}  // namespace

// The line vanishes while nothing is going on; the program finds out by
// itself, and from then on every command fails within its time-out without
// flooding the status line or keeping a core busy.
TEST_F(DeadLine, CommandsFailQuietlyAndCheaply) {
    sensor->setHangupAfter(static_cast<int>(sensor->framesReceived()));
    ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->hungUp(); }, 3000));

    double cpu0 = CpuMs();
    auto t = Clock::now();
    rt_test::Pump(1000);
    EXPECT_LT(CpuMs() - cpu0, 0.5 * SecondsSince(t) * 1000.0) << "idle event loop on a dead line";
    EXPECT_TRUE(Status().empty());

    // A request that cannot be written is not answered: Get times out.
    double took = Timed([&] { rt_test::Click(panel(), orv::BTNGet); });
    EXPECT_LT(took, kReplyTimeoutS + kSlackS);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Receive...", "Timeout RS232-Line!"}));

    cpu0 = CpuMs();
    took = Timed([&] { rt_test::Click(panel(), orv::BTNRun); });
    EXPECT_LT(CpuMs() - cpu0, 0.5 * took * 1000.0) << "Run waiting on a dead line";
    EXPECT_LT(took, kReplyTimeoutS + kSlackS);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Timeout RS232-Line!"}));
    ExpectIdle();

    took = Timed([&] { rt_test::Click(panel(), orv::ButtonTeach); });
    EXPECT_LT(took, 1.0);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Teach new Reference-Value ...", "< 36 Bytes!"}));

    Replug();
    ExpectGoodGet();
}

// ------------------------------------------- torn starts and late replies

namespace {

class LineQuirks : public Faulty {};

const std::vector<uint8_t> kTornStart = {0x00, 0x55, 0x00, 0x04, 0x01, 0xF4, 0x00, 0x01};

}  // namespace

// The start of a reply glued before a whole reply: the bytes do not divide
// into frames, so Get and the live scope fail with their time-outs, and no
// block shifted by the stray bytes ever reaches the panel, pp or the chart.
TEST_F(LineQuirks, ATornStartNeverYieldsAShiftedBlock) {
    sensor->setRam(kGoodBlock);
    sensor->setStrayBefore(kTornStart);
    rt_test::Click(panel(), orv::BTNGet);
    EXPECT_EQ(Last(), "Timeout RS232-Line!");
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 512);
    EXPECT_EQ(orv::power, 500);

    sensor->setStrayBefore(kTornStart);
    rt_test::Click(panel(), orv::BTNRun);
    EXPECT_EQ(Last(), "Timeout RS232-Line!");
    EXPECT_EQ(orv::rawbuf, (std::array<uint16_t, 3>{0, 0, 0}));
    EXPECT_EQ(orv::graphrefresh, 0);
    ExpectGoodGet();
}

// A reply that comes after its command has timed out is dropped: the next Get
// shows what the sensor holds now, and the next Run's first sample is its own.
TEST_F(LineQuirks, ALateReplyNeverAnswersALaterCommand) {
    sensor->setLate({2200, 2, 1});
    rt_test::Click(panel(), orv::BTNGet);
    EXPECT_EQ(Last(), "Timeout RS232-Line!");
    sensor->setRam(kGoodBlock);  // 600 now; the late reply still says 512
    rt_test::Click(panel(), orv::BTNGet);
    EXPECT_EQ(Last(), "Line Ok!");
    EXPECT_EQ(rt_test::Int(panel(), orv::NumReference), 600);

    sensor->setRam(kxsim::kDefaultBlock);
    sensor->setLate({1500, 8, 1});
    rt_test::Click(panel(), orv::BTNRun);
    EXPECT_EQ(Last(), "Timeout RS232-Line!");
    const uint16_t late = sensor->measuredValue();
    rt_test::Click(panel(), orv::ChkHistory);
    rt_test::After(500, [this] { rt_test::Click(panel(), orv::BTNStop); });
    rt_test::Click(panel(), orv::BTNRun);
    const auto samples = rt_test::TracePoints(panel(), orv::StripChart, 4);
    ASSERT_GE(samples.size(), 5u);
    EXPECT_NE(samples.front(), late);
}
