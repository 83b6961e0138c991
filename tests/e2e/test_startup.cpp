// Start-up against the simulated sensor: the echo frame, the line verdicts,
// a missing port, a missing panel file, and the close event.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "runtime/testing/rt_testing.h"
#include "support/app_fixture.h"

using namespace orv;
namespace fs = std::filesystem;

namespace {

class Startup : public orv_test::App {};

class StartupBadEcho : public orv_test::App {
    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.faults.echoWord = 0x0055;
        return o;
    }
};

class StartupSilent : public orv_test::App {
    kxsim::Options SensorOptions() override {
        kxsim::Options o;
        o.faults.silent = true;
        return o;
    }
};

class StartupNoPort : public orv_test::App {
    std::string Port1Device() override { return "/nonexistent/ttyORV0"; }
};

// Port 1 named by paths relative to the directory the program starts in.
class StartupRelativePort : public orv_test::App {
  protected:
    fs::path dir = fs::temp_directory_path() / ("orv-relative-" + std::to_string(getpid()));
    void BeforeStartUp() override {
        fs::create_directories(dir / "runs");
        fs::create_symlink(sensor->devicePath(), dir / "runs" / "tty");
        fs::create_symlink(sensor->devicePath(), dir / "kx1");
        ASSERT_EQ(0, chdir(dir.c_str()));
        setenv("ORVANSCOPE_COM1", "runs/tty", 1);
        setenv("ORVANSCOPE_COM2", "kx1", 1);
    }
    void TearDown() override {
        App::TearDown();
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

}  // namespace

TEST_F(Startup, EchoFrameCarriesTheDefaultsAndTheLineIsOk) {
    const auto frames = sensor->received();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], orv_test::Frame(0x0055, 7, kxsim::kDefaultBlock));

    const auto status = Status();
    ASSERT_FALSE(status.empty());
    EXPECT_EQ(status.front(), "InitVars");
    EXPECT_EQ(status.back(), "Echo Check - Line Ok!");  // the echo word was 170

    // The echo reply is read directly, not decoded.
    EXPECT_EQ(orv::sync, 85);
    EXPECT_EQ(order, 1);
    EXPECT_EQ(com, 1);
    EXPECT_EQ(target, RAM);
    EXPECT_EQ(stop_flag, 1);

    EXPECT_EQ(rt_test::Int(panel(), NumPower), 250);
    EXPECT_EQ(rt_test::Int(panel(), NumPowermode), 1);
    EXPECT_EQ(rt_test::Int(panel(), NumReference), 512);
    EXPECT_EQ(rt_test::Int(panel(), NumTolerance), 128);
    EXPECT_EQ(rt_test::Int(panel(), NumHysteresis), 10);
    EXPECT_EQ(rt_test::Int(panel(), NumPolarity), 1);
    EXPECT_EQ(rt_test::Int(panel(), NumAverage), 8);
    EXPECT_EQ(rt_test::Int(panel(), NumLinear), 1);
    EXPECT_EQ(rt_test::Int(panel(), RBTRam), 1);
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
}

TEST_F(StartupBadEcho, WrongEchoWordIsReported) {
    EXPECT_EQ(Status().back(), "read error - not sync byte 0xAA!");  // the echo word was 0x55
}

TEST_F(StartupSilent, SilentSensorTimesOut) {
    EXPECT_EQ(Status().back(), "Timeout < 36 Bytes");
    EXPECT_EQ(sensor->framesReceived(), 1u);
}

TEST_F(StartupNoPort, MissingPortShowsDriverMessageAndPanelStaysUsable) {
    // The open failed: the device that port 1 names is not there.
    EXPECT_EQ(Status().back(), "No serial port found");

    // Nothing can answer a request on a port that is not open: Get times out.
    rt_test::Click(panel(), BTNGet);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Receive...", "Timeout RS232-Line!"}));
    EXPECT_EQ(rt_test::Int(panel(), NumPower), 250);
}

// Taken from the start directory even after the working directory changed; a
// bare name too, when the start directory holds it.
TEST_F(StartupRelativePort, APathRelativeToTheStartDirectoryNamesThePort) {
    EXPECT_EQ(Status().back(), "Echo Check - Line Ok!");
    EXPECT_EQ(std::string(ComPortDevice(1)), (dir / "runs" / "tty").string());
    ASSERT_EQ(0, chdir("/"));
    rt_test::ChooseRing(panel(), DropDCom, 1);  // port 2: "kx1"
    EXPECT_EQ(Status().back(), "Echo Check - Line Ok!");
    EXPECT_EQ(std::string(ComPortDevice(2)), (dir / "kx1").string());
}

TEST_F(Startup, CloseEventEndsTheEventLoopWithZero) {
    DisplayPanel(panel());
    rt_test::RequestClose(panel());
    EXPECT_EQ(RunUserInterface(), 0);
}

TEST_F(Startup, CloseDuringAWaitingGetTakesEffectAfterIt) {
    sensor->setSilent(true);
    DisplayPanel(panel());
    rt_test::After(100, [this] { rt_test::RequestClose(panel()); });
    rt_test::Click(panel(), BTNGet);  // waits 26 ticks for a reply that never comes
    EXPECT_EQ(Status().back(), "Timeout RS232-Line!");
    EXPECT_EQ(RunUserInterface(), 0);
}

// A close request or a termination signal while the live scope runs ends the
// scope, and with it the callback, so the program shuts down in order.
TEST_F(Startup, CloseWhileTheScopeRunsEndsItAndQuits) {
    DisplayPanel(panel());
    rt_test::After(400, [this] { rt_test::RequestClose(panel()); });
    rt_test::Click(panel(), BTNRun);  // returns once the scope has ended
    EXPECT_EQ(stop_flag, 1);
    EXPECT_FALSE(rt_test::Dimmed(panel(), BTNRun));
    EXPECT_EQ(RunUserInterface(), 0);
}

TEST_F(Startup, TerminationSignalWhileTheScopeRunsEndsItAndQuits) {
    DisplayPanel(panel());
    rt_test::After(400, [] { raise(SIGTERM); });
    rt_test::Click(panel(), BTNRun);
    EXPECT_EQ(stop_flag, 1);
    EXPECT_EQ(RunUserInterface(), 0);
}

TEST_F(Startup, TerminationSignalWhileAFileDialogIsOpenCancelsItAndQuits) {
    DisplayPanel(panel());
    rt_test::Click(panel(), RBTFile);
    Status();
    rt_test::After(400, [] { raise(SIGTERM); });
    rt_test::Press(panel(), BTNSend);  // returns once the dialog has closed
    EXPECT_TRUE(rt_test::LastFileDialog().shown);
    EXPECT_EQ(Status(), (std::vector<std::string>{"Transmit..."}));  // nothing written
    EXPECT_EQ(RunUserInterface(), 0);
}

TEST(StartupPanelFile, MissingPanelFileExitsMinusOneBeforeAnyPortIsOpened) {
    kxsim::Sensor sim;
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;

    const fs::path self = fs::read_symlink("/proc/self/exe");
    const fs::path program = self.parent_path() / "OrvanscopeV10";
    ASSERT_TRUE(fs::exists(program)) << "build the OrvanscopeV10 target first";

    char tmpl[] = "/tmp/orv-nopanel-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const fs::path dir = tmpl;
    fs::copy_file(program, dir / "OrvanscopeV10");

    setenv("ORVANSCOPE_COM1", sim.devicePath().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(100);
        execl("./OrvanscopeV10", "OrvanscopeV10", static_cast<char*>(nullptr));
        _exit(101);
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
    fs::remove_all(dir);

    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 255);  // -1
    EXPECT_FALSE(sim.waitForFrames(1, 200));
    EXPECT_EQ(sim.framesReceived(), 0u);
}
