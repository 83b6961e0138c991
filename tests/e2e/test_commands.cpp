// Operator commands end to end: the real panel (offscreen) clicked like an
// operator would, against the simulated sensor on a pseudo-terminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

uint16_t OrderOf(const kxsim::Frame& f) {
    return kxsim::FrameWord(f, -1);
}
uint16_t SyncOf(const kxsim::Frame& f) {
    return kxsim::FrameWord(f, -2);
}
kxsim::Block WordsOf(const kxsim::Frame& f) {
    kxsim::Block b{};
    for (int k = 0; k < kxsim::kWords; ++k)
        b[k] = kxsim::FrameWord(f, k);
    return b;
}

class Commands : public orv_test::App {
  protected:
    void SetUp() override {
        App::SetUp();
        Status();  // forget the start-up texts
        start = sensor->framesReceived();
    }
    // The eight panel-mapped values as the panel shows them.
    std::array<int, 8> PanelValues() {
        return {rt_test::Int(panel(), NumPower),      rt_test::Int(panel(), NumPowermode),
                rt_test::Int(panel(), NumReference),  rt_test::Int(panel(), NumTolerance),
                rt_test::Int(panel(), NumHysteresis), rt_test::Int(panel(), NumPolarity),
                rt_test::Int(panel(), NumAverage),    rt_test::Int(panel(), NumLinear)};
    }
    std::size_t start = 0;
};

const kxsim::Block kSensorBlock = {700, 2, 600, 90, 11, 12, 0, 4, 5, 6, 7, 0, 12, 13, 14, 65535};

}  // namespace

TEST_F(Commands, GetFromRamSendsTheVariablesAndShowsTheSensorBlock) {
    sensor->setRam(kSensorBlock);
    rt_test::EnterNumber(panel(), NumReference, 777);  // not read: the request carries the variables

    rt_test::Click(panel(), BTNGet);

    const auto frames = FramesSince(start);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(OrderOf(frames[0]), 2);
    EXPECT_EQ(SyncOf(frames[0]), 0x55);
    EXPECT_EQ(WordsOf(frames[0]), kxsim::kDefaultBlock);

    const auto status = Status();
    ASSERT_GE(status.size(), 3u);
    EXPECT_EQ(status[0], "Receive...");
    EXPECT_EQ(status[1], "Transmit Ok!");
    EXPECT_EQ(status.back(), "Line Ok!");

    EXPECT_EQ(PanelValues(), (std::array<int, 8>{450, 2, 600, 90, 12, 0, 4, 0}));
    EXPECT_EQ(power, 700);
    EXPECT_EQ(para15, 65535);
    EXPECT_EQ(hold, 7);
    EXPECT_EQ(rx_flag, 1);
    EXPECT_EQ(graphrefresh, 1);
    EXPECT_TRUE(rt_test::TimerEnabled(panel(), Timer50ms));  // left on after a reply
}

TEST_F(Commands, GetWithoutReplyTimesOutAndShowsTheUnchangedVariables) {
    sensor->setSilent(true);
    rt_test::EnterNumber(panel(), NumTolerance, 99);

    rt_test::Click(panel(), BTNGet);

    const auto status = Status();
    EXPECT_EQ(status.back(), "Timeout RS232-Line!");
    EXPECT_EQ(rt_test::Int(panel(), NumTolerance), 128);  // unsent edit replaced
    EXPECT_FALSE(rt_test::TimerEnabled(panel(), Timer50ms));
    EXPECT_EQ(ttick, 0);
    EXPECT_EQ(rx_flag, 0);
}

TEST_F(Commands, SendActsOnThePressAndAGetReadsItBack) {
    rt_test::EnterNumber(panel(), NumPower, 300);
    rt_test::EnterNumber(panel(), NumReference, 600);
    orv::sync = 0x1234;  // as left by an earlier reply: Send resets it

    rt_test::Press(panel(), BTNSend);
    ASSERT_TRUE(sensor->waitForFrames(start + 1, 2000));
    const auto frames = FramesSince(start);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(OrderOf(frames[0]), 1);
    EXPECT_EQ(SyncOf(frames[0]), 0x55);
    EXPECT_EQ(WordsOf(frames[0])[0], 550);
    EXPECT_EQ(WordsOf(frames[0])[2], 600);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Transmit...", "Transmit Ok!"}));

    rt_test::Release(panel(), BTNSend);  // the completed click sends nothing more
    rt_test::Pump(100);
    EXPECT_EQ(sensor->framesReceived(), start + 1);
    EXPECT_EQ(sensor->ram()[0], 550);

    // Panel changed behind our back, then a Get brings back what was sent.
    rt_test::EnterNumber(panel(), NumPower, 1);
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(rt_test::Int(panel(), NumPower), 300);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 600);
}

TEST_F(Commands, EepromTargetWritesWithOrderThreeAndReadsWithOrderFour) {
    rt_test::Click(panel(), RBTEeprom);
    ASSERT_EQ(target, EEPROM);
    rt_test::EnterNumber(panel(), NumHysteresis, 33);

    rt_test::Click(panel(), BTNSend);
    ASSERT_TRUE(sensor->waitForFrames(start + 1, 2000));
    rt_test::Pump(50);
    EXPECT_EQ(sensor->eeprom()[5], 33);
    EXPECT_EQ(sensor->ram()[5], 10);

    rt_test::EnterNumber(panel(), NumHysteresis, 1);
    rt_test::Click(panel(), BTNGet);
    const auto frames = FramesSince(start);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(OrderOf(frames[0]), 3);
    EXPECT_EQ(OrderOf(frames[1]), 4);
    EXPECT_EQ(rt_test::Int(panel(), NumHysteresis), 33);
}

TEST_F(Commands, TeachSendsSixThenTwoAndShowsTheTaughtReference) {
    rt_test::EnterNumber(panel(), NumTolerance, 100);
    rt_test::Click(panel(), ButtonTeach);

    const auto frames = FramesSince(start);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(OrderOf(frames[0]), 6);
    EXPECT_EQ(OrderOf(frames[1]), 2);
    EXPECT_EQ(WordsOf(frames[0])[3], 100);  // the panel was read first
    EXPECT_EQ(Status(), (std::vector<std::string>{"Teach new Reference-Value ...", "Line Ok!", "Line Ok!"}));
    EXPECT_EQ(rt_test::Int(panel(), NumReference), sensor->ram()[2]);
    EXPECT_EQ(reference, sensor->ram()[2]);
}

TEST_F(Commands, TeachWithSilentSensorKeepsThePanel) {
    sensor->setSilent(true);
    rt_test::EnterNumber(panel(), NumReference, 700);
    const int32_t syncBefore = orv::sync;
    rt_test::Click(panel(), ButtonTeach);
    EXPECT_EQ(Status().back(), "< 36 Bytes!");
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 700);
    EXPECT_EQ(reference, 700);
    EXPECT_EQ(orv::sync, syncBefore);
}

TEST_F(Commands, TargetGroupKeepsRamOnAndOneButtonSelected) {
    rt_test::Click(panel(), RBTRam);  // switching RAM off leaves it on
    EXPECT_EQ(rt_test::Int(panel(), RBTRam), 1);
    EXPECT_EQ(target, RAM);

    rt_test::Click(panel(), RBTFile);
    EXPECT_EQ(target, DATFILE);
    EXPECT_EQ(rt_test::Int(panel(), RBTFile), 1);
    EXPECT_EQ(rt_test::Int(panel(), RBTRam), 0);
    EXPECT_EQ(rt_test::Int(panel(), RBTEeprom), 0);

    rt_test::Click(panel(), RBTEeprom);
    EXPECT_EQ(target, EEPROM);
    EXPECT_EQ(rt_test::Int(panel(), RBTFile), 0);

    rt_test::Click(panel(), RBTFile);
    rt_test::Click(panel(), RBTFile);  // File off: back to RAM alone
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(rt_test::Int(panel(), RBTRam), 1);
    EXPECT_EQ(rt_test::Int(panel(), RBTFile), 0);
    EXPECT_EQ(rt_test::Int(panel(), RBTEeprom), 0);
}

TEST_F(Commands, FileTargetWithCancelledOrTooLongPathSendsAndWritesNothing) {
    rt_test::Click(panel(), RBTFile);
    Status();
    rt_test::AnswerNextFileDialog("");
    rt_test::Press(panel(), BTNSend);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Transmit..."}));

    char tmpl[] = "/tmp/orv-long-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    // Every component fits the file system; the whole path does not fit the buffer.
    const fs::path deep = fs::path(tmpl) / std::string(200, 'd');
    fs::create_directory(deep);
    const std::string longPath = (deep / (std::string(100, 'p') + ".dat")).string();
    rt_test::AnswerNextFileDialog(longPath);
    rt_test::Press(panel(), BTNSend);
    const auto status = Status();
    ASSERT_EQ(status.size(), 2u);
    EXPECT_NE(status[1].find("too long"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(deep));
    fs::remove_all(tmpl);

    rt_test::Pump(100);
    EXPECT_EQ(sensor->framesReceived(), start);
}

namespace {

// Port 2 leads to a second sensor; port 3 maps to nothing.
class PortRing : public Commands {
  protected:
    void BeforeStartUp() override {
        second = std::make_unique<kxsim::Sensor>(orv_test::LineOptions({}));
        std::string error;
        ASSERT_TRUE(second->start(&error)) << error;
        setenv("ORVANSCOPE_COM2", second->devicePath().c_str(), 1);
        setenv("ORVANSCOPE_COM3", "/nonexistent/ttyORV3", 1);
    }
    void TearDown() override {
        Commands::TearDown();
        second->stop();
    }
    std::unique_ptr<kxsim::Sensor> second;
};

}  // namespace

TEST_F(PortRing, ChoosingAnotherPortReopensTheLineThere) {
    rt_test::ChooseRing(panel(), DropDCom, 1);  // port 2
    EXPECT_EQ(com, 2);
    // One pick, one open, one line check (whose verdict the open shows again).
    EXPECT_EQ(Status(), (std::vector<std::string>{"Init COM-Port ...", "Echo Check - Line Ok!",
                                                  "Echo Check - Line Ok!"}));
    EXPECT_EQ(second->framesReceived(), 1u);

    second->setRam(kSensorBlock);
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 600);
    EXPECT_EQ(sensor->framesReceived(), start);

    rt_test::ChooseRing(panel(), DropDCom, 2);  // port 3: its device is not there
    EXPECT_EQ(com, 3);
    EXPECT_EQ(Status().back(), "No serial port found");
    EXPECT_EQ(rt_test::RingLabels(panel(), DropDCom)[2], "COM3  /nonexistent/ttyORV3 (not connected)");

    rt_test::ChooseRing(panel(), DropDCom, 0);  // back to port 1
    EXPECT_EQ(com, 1);
    EXPECT_EQ(Status().back(), "Echo Check - Line Ok!");
}

namespace {

// Port 4 leads through one link path to sensors that come and go; port 5
// names a device that is not there.
class PortsFollowDevices : public Commands {
  protected:
    void BeforeStartUp() override {
        char tmpl[] = "/tmp/orv-ports-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        link = (dir / "com4").string();
        setenv("ORVANSCOPE_COM4", link.c_str(), 1);
        setenv("ORVANSCOPE_COM5", (dir / "com5").c_str(), 1);
    }
    void TearDown() override {
        Commands::TearDown();
        for (auto& s : plugged)
            s->stop();
        fs::remove_all(dir);
    }
    kxsim::Sensor& Plug() {
        kxsim::Options o = orv_test::LineOptions({});
        o.linkPath = link;
        plugged.push_back(std::make_unique<kxsim::Sensor>(o));
        std::string error;
        EXPECT_TRUE(plugged.back()->start(&error)) << error;
        return *plugged.back();
    }
    std::string OpenedLabel(int port) {
        rt_test::OpenRing(panel(), DropDCom);
        return rt_test::RingLabels(panel(), DropDCom).at(static_cast<std::size_t>(port - 1));
    }
    fs::path dir;
    std::string link;
    std::vector<std::unique_ptr<kxsim::Sensor>> plugged;
};

}  // namespace

TEST_F(PortsFollowDevices, RingFollowsThePortsAndALostPortReopensByItself) {
    EXPECT_EQ(rt_test::RingLabels(panel(), DropDCom).at(3), "COM4  " + link + " (not connected)");
    Plug();
    EXPECT_EQ(OpenedLabel(4), "COM4  " + link);
    rt_test::ChooseRing(panel(), DropDCom, 3);
    EXPECT_EQ(Status().back(), "Echo Check - Line Ok!");

    plugged.back()->stop();  // the line goes, and its link with it
    EXPECT_EQ(OpenedLabel(4), "COM4  " + link + " (not connected)");
    EXPECT_EQ(rt_test::Int(panel(), DropDCom), 4);  // the selection stays

    // Back at the same path: the port opens again by itself and says so once.
    kxsim::Sensor& back = Plug();
    std::vector<std::string> shown;
    EXPECT_TRUE(rt_test::WaitUntil(
        [&] {
            for (const std::string& t : Status())
                shown.push_back(t);
            return !shown.empty();
        },
        3000));
    EXPECT_EQ(shown, std::vector<std::string>{"COM4 reopened - " + link});
    back.setRam(kSensorBlock);
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 600);
    EXPECT_EQ(Status().back(), "Line Ok!");

    // Picking a port whose device is missing, or a number with no device at
    // all, gives the open's own message; the ring's entry names the device.
    rt_test::ChooseRing(panel(), DropDCom, 4);
    EXPECT_EQ(Status().back(), "No serial port found");
    EXPECT_EQ(rt_test::RingLabels(panel(), DropDCom)[4],
              "COM5  " + (dir / "com5").string() + " (not connected)");
    const auto labels = rt_test::RingLabels(panel(), DropDCom);
    for (std::size_t i = 0; i < labels.size(); ++i) {
        if (labels[i] == "COM" + std::to_string(i + 1) + "  (not connected)") {
            rt_test::ChooseRing(panel(), DropDCom, static_cast<int>(i));
            EXPECT_EQ(Status().back(), std::string(ComErrorText(COM_ERR_NO_PORT)));
            break;
        }
    }
}

namespace {

// The program started in a project directory of its own.
class ProjectDir : public Commands {
  protected:
    void BeforeStartUp() override {
        char tmpl[] = "/tmp/orv-proj-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        old = fs::current_path();
        fs::current_path(dir);
    }
    void TearDown() override {
        Commands::TearDown();
        fs::current_path(old);
        fs::remove_all(dir);
    }
    fs::path dir, old;
};

}  // namespace

TEST_F(ProjectDir, RefusedCorrectionSourceProgramsNothing) {
    {
        std::ofstream src(dir / "KXconfig.dat");
        src << "1 2 3\n";  // far fewer than three groups of 1024
    }
    rt_test::Click(panel(), RBTFile);
    Status();
    rt_test::AnswerNextFileDialog((dir / "kxconfig.DAT").string());
    rt_test::Press(panel(), BTNSend);

    const auto status = Status();
    ASSERT_GE(status.size(), 2u);
    EXPECT_EQ(status.front(), "Transmit...");
    EXPECT_EQ(status.back().rfind("ok", 0), std::string::npos) << status.back();
    EXPECT_FALSE(fs::exists(dir / "KXlinear.dat"));
    EXPECT_FALSE(fs::exists(dir / "kxconfig.DAT"));  // not written as a parameter file
    rt_test::Pump(100);
    EXPECT_EQ(sensor->framesReceived(), start);
}

namespace {

// A sensor that answers with another sync word, with order word 0 in its
// flash replies and with a frame of its own to the teach order.
class ForeignSensor : public Commands {
  protected:
    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.replySync = kxsim::ReplySync::Fixed;
        o.replySyncWord = 0x1234;
        o.flashReplyOrder = 0;
        o.teachReply = true;
        return o;
    }
};

}  // namespace

// Every command works, every request after a reply carries the sensor's sync
// word, and Send alone goes back to 0x0055.
TEST_F(ForeignSensor, EveryCommandWorksAndRequestsCarryTheSensorsSyncWord) {
    EXPECT_EQ(orv::sync, 0x55);  // the line check's reply is judged, not decoded
    sensor->setRam(kSensorBlock);
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 600);
    EXPECT_EQ(orv::sync, 0x1234);

    rt_test::Click(panel(), ButtonTeach);
    EXPECT_EQ(Status().back(), "Line Ok!");
    EXPECT_EQ(reference, sensor->ram()[2]);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), sensor->ram()[2]);

    rt_test::EnterNumber(panel(), NumTolerance, 95);
    rt_test::Click(panel(), BTNSend);
    ASSERT_TRUE(rt_test::WaitUntil([&] { return sensor->ram()[3] == 95; }, 2000));
    rt_test::Click(panel(), BTNGet);
    rt_test::After(1200, [this] { rt_test::Click(panel(), BTNStop); });
    rt_test::Click(panel(), BTNRun);

    const auto frames = FramesSince(start);
    ASSERT_GE(frames.size(), 25u);
    EXPECT_EQ(SyncOf(frames[0]), 0x55);    // Get, before any reply was decoded
    EXPECT_EQ(SyncOf(frames[1]), 0x1234);  // Teach's two requests
    EXPECT_EQ(SyncOf(frames[2]), 0x1234);
    EXPECT_EQ(OrderOf(frames[3]), 1);  // Send
    EXPECT_EQ(SyncOf(frames[3]), 0x55);
    EXPECT_EQ(SyncOf(frames[4]), 0x55);  // the Get after it
    for (std::size_t i = 5; i < frames.size(); ++i)
        ASSERT_EQ(SyncOf(frames[i]), 0x1234) << i;
    const auto shown = Status();
    EXPECT_EQ(std::count(shown.begin(), shown.end(), std::string("Timeout RS232-Line!")), 0);
}
