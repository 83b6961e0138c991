// The memory runtime itself: its virtual clock, the serial ports on in-memory
// sensors and on any other peer, the events of the real panel file's
// controls, and the file dialog.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <unistd.h>

#include <QLoggingCategory>
#include <QStringList>

#include "kxsim.h"
#include "kxsim_memory.h"
#include "runtime/memory/line_peers.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"

namespace {

// Controls of the panel file.
constexpr int kRing = 2, kChart = 3, kPower = 4, kGet = 10, kSend = 11, kFile = 15, kValue = 27;
constexpr int kTimer = 34, kStatus = 35;

struct Event {
    int control;
    int event;
    bool operator==(const Event&) const = default;
};

std::vector<Event> g_events;
int g_ticks = 0;
int g_depth = 0, g_maxDepth = 0;
std::function<void()> g_onTick;

int RecordCtrl(int, int control, int event, void*, int, int) {
    if (event != EVT_TIMER_TICK) {
        g_events.push_back({control, event});
        return 0;
    }
    ++g_ticks;
    ++g_depth;
    g_maxDepth = std::max(g_maxDepth, g_depth);
    if (g_onTick)
        g_onTick();
    --g_depth;
    return 0;
}

int RecordPanel(int, int event, void*, int, int) {
    if (event == EVT_CLOSE)
        QuitUserInterface(6);
    return 0;
}

const CallbackEntry kTable[] = {
    {"CC_PANEL", nullptr, RecordPanel},      {"CC_Timer50ms", RecordCtrl, nullptr},
    {"CC_RBTRam", RecordCtrl, nullptr},      {"CC_RBTEeprom", RecordCtrl, nullptr},
    {"CC_RBTFile", RecordCtrl, nullptr},     {"CC_DropDCom", RecordCtrl, nullptr},
    {"CC_BTNGet", RecordCtrl, nullptr},      {"CC_BTNSend", RecordCtrl, nullptr},
    {"CC_ButtonTeach", RecordCtrl, nullptr}, {"CC_BTNRun", RecordCtrl, nullptr},
    {"CC_BTNStop", RecordCtrl, nullptr},
};

class MemoryRuntime : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(InitEngine(0, nullptr), 1);
        SetCallbackTable(kTable, static_cast<int>(std::size(kTable)));
        panel = LoadPanel(0, "OrvanscopeV10.uir", 1);
        ASSERT_GT(panel, 0);
        g_events.clear();
        g_ticks = g_depth = g_maxDepth = 0;
        g_onTick = nullptr;
    }
    void TearDown() override { rt_test::Reset(); }

    // A sensor in memory on port `port`, opened as the program opens it.
    std::unique_ptr<kxsim::Sensor> Plug(int port, kxsim::Options o = {}) {
        o.inMemory = true;
        auto s = std::make_unique<kxsim::Sensor>(o);
        EXPECT_TRUE(s->start());
        setenv(("ORVANSCOPE_COM" + std::to_string(port)).c_str(), s->devicePath().c_str(), 1);
        EXPECT_EQ(OpenComConfig(port, "", 19200, 0, 8, 1, 4096, 4096), 0);
        return s;
    }

    int panel = -1;
};

const kxsim::Frame kEcho = kxsim::MakeFrame(85, 7, kxsim::kDefaultBlock);

int Write(int port, const kxsim::Frame& f) {
    return ComWrt(port, reinterpret_cast<const char*>(f.data()), static_cast<int>(f.size()));
}

}  // namespace

TEST_F(MemoryRuntime, TimePassesOnlyVirtuallyAndRepliesComeWhenTheLineAllows) {
    auto sensor = Plug(1);  // paced like a 19200-baud line
    double t = Timer();
    ASSERT_EQ(Write(1, kEcho), 36);
    EXPECT_NEAR(Timer() - t, 0.01875, 1e-9);  // the request on the wire
    char reply[36] = {};
    ASSERT_EQ(ComRd(1, reply, 36), 36);
    EXPECT_NEAR(Timer() - t, 0.0375, 1e-9);  // the reply due after both transfers
    EXPECT_EQ(static_cast<unsigned char>(reply[5]), 0xAA);

    // A read that times out waits its whole time-out, on the clock only:
    // a hundred of them pass 200 s while far less wall time goes by.
    sensor->setSilent(true);
    const auto wall = std::chrono::steady_clock::now();
    t = Timer();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(Write(1, kEcho), 36);
        ASSERT_EQ(ComRd(1, reply, 36), 0);
    }
    EXPECT_GE(Timer() - t, 200.0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count(), 100.0);
    t = Timer();
    Delay(1.5);
    EXPECT_NEAR(Timer() - t, 1.5, 1e-9);

    // Other names than an in-memory sensor's open nothing; a line that hangs
    // up leaves a dead port that fails at once, and the device is gone.
    setenv("ORVANSCOPE_COM3", "/nonexistent/ttyNothing", 1);
    EXPECT_EQ(OpenComConfig(3, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_NO_PORT);
    EXPECT_EQ(OpenComConfig(4, "/dev/null", 19200, 0, 8, 1, 4096, 4096), COM_ERR_CANNOT_OPEN);
    EXPECT_EQ(ComRd(3, reply, 36), COM_ERR_NOT_OPEN);
    EXPECT_EQ(GetInQLen(0), COM_ERR_INVALID_PORT);
    sensor->setSilent(false);
    sensor->setHangupAfter(static_cast<int>(sensor->framesReceived()) + 1);
    ASSERT_EQ(Write(1, kEcho), 36);
    ASSERT_EQ(ComRd(1, reply, 36), 36);
    rt_test::Pump(300);
    EXPECT_TRUE(sensor->hungUp());
    t = Timer();
    EXPECT_EQ(Write(1, kEcho), COM_ERR_IO);
    EXPECT_EQ(ComRd(1, reply, 36), COM_ERR_IO);
    EXPECT_EQ(Timer(), t);
    EXPECT_EQ(GetInQLen(1), 0);
    EXPECT_EQ(CloseCom(1), 0);
    EXPECT_EQ(OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_NO_PORT);
}

namespace {

struct Notified {
    int calls = 0, depth = 0, maxDepth = 0;
    bool pumpInside = false;
    std::vector<std::vector<char>> frames;
} g_rx;

void OnRx(int port, int events, void*) {
    ++g_rx.calls;
    g_rx.maxDepth = std::max(g_rx.maxDepth, ++g_rx.depth);
    EXPECT_EQ(events, COM_EVT_RXCOUNT);
    std::vector<char> f(36);
    EXPECT_EQ(ComRd(port, f.data(), 36), 36);
    g_rx.frames.push_back(f);
    if (g_rx.pumpInside)
        rt_test::Pump(30);  // a waiting command processes events
    --g_rx.depth;
}

}  // namespace

TEST_F(MemoryRuntime, NotificationAtTheCountOncePerFrameNeverNestedNorInsideARead) {
    g_rx = {};
    kxsim::Options fast;
    fast.fast = true;
    auto sensor = Plug(2, fast);
    ASSERT_EQ(InstallComCallback(2, 0x8006, 36, 85, OnRx, nullptr), 0);

    sensor->inject(std::vector<std::uint8_t>(35, 0x11));
    rt_test::Pump(200);
    EXPECT_EQ(g_rx.calls, 0);
    EXPECT_EQ(GetInQLen(2), 35);
    sensor->inject({0x22});
    ASSERT_TRUE(rt_test::WaitUntil([] { return g_rx.calls == 1; }, 100));
    EXPECT_EQ(g_rx.frames[0][35], 0x22);

    // Three frames at once: three notifications, also when the callback
    // processes events itself, and none inside another.
    g_rx.pumpInside = true;
    std::vector<std::uint8_t> three;
    for (int i = 0; i < 3; ++i)
        three.insert(three.end(), kEcho.begin(), kEcho.end());
    sensor->inject(three);
    ASSERT_TRUE(rt_test::WaitUntil([] { return g_rx.calls == 4; }, 1000));
    rt_test::Pump(200);
    EXPECT_EQ(g_rx.calls, 4);
    EXPECT_EQ(g_rx.maxDepth, 1);

    // A direct read takes the reply; no notification comes inside the read
    // nor for the bytes it took.
    g_rx.pumpInside = false;
    ASSERT_EQ(Write(2, kEcho), 36);
    char reply[36] = {};
    EXPECT_EQ(ComRd(2, reply, 36), 36);
    EXPECT_EQ(g_rx.calls, 4);
    rt_test::Pump(200);
    EXPECT_EQ(g_rx.calls, 4);
}

TEST_F(MemoryRuntime, TimerTicksOnlyWhileEnabledAndNeverInsideItsOwnTick) {
    rt_test::Pump(500);
    EXPECT_EQ(g_ticks, 0);
    ASSERT_EQ(SetCtrlAttribute(panel, kTimer, ATR_TIMER_ENABLED, 1), 0);
    EXPECT_TRUE(rt_test::TimerEnabled(panel, kTimer));
    rt_test::Pump(500);
    EXPECT_EQ(g_ticks, 10);  // every 50 ms

    // A tick whose callback processes events is not entered again meanwhile.
    g_onTick = [] { rt_test::Pump(120); };
    rt_test::Pump(500);
    EXPECT_GE(g_ticks, 12);
    EXPECT_EQ(g_maxDepth, 1);
    g_onTick = nullptr;

    SetCtrlAttribute(panel, kTimer, ATR_TIMER_ENABLED, 0);
    const int stopped = g_ticks;
    rt_test::Pump(500);
    EXPECT_EQ(g_ticks, stopped);

    // RunUserInterface runs until a quit, here the panel callback's answer
    // to a termination request.
    rt_test::After(300, [] { std::raise(SIGTERM); });
    const double t = Timer();
    EXPECT_EQ(RunUserInterface(), 6);
    EXPECT_NEAR(Timer() - t, 0.3, 1e-9);
}

TEST_F(MemoryRuntime, ControlsDeliverTheEventsOfTheRealWidgetsInOrder) {
    using S = std::vector<Event>;
    rt_test::Click(panel, kGet);
    EXPECT_EQ(g_events, (S{{kGet, EVT_LEFT_CLICK}, {kGet, EVT_COMMIT}}));
    g_events.clear();
    rt_test::Press(panel, kSend);
    rt_test::Release(panel, kSend);
    rt_test::Release(panel, kSend);  // a release without a press does nothing
    rt_test::KeyActivate(panel, kSend);
    EXPECT_EQ(
        g_events,
        (S{{kSend, EVT_LEFT_CLICK}, {kSend, EVT_COMMIT}, {kSend, EVT_LEFT_CLICK}, {kSend, EVT_COMMIT}}));
    g_events.clear();
    rt_test::Click(panel, kFile);
    EXPECT_EQ(g_events, (S{{kFile, EVT_LEFT_CLICK}, {kFile, EVT_VALUE_CHANGED}, {kFile, EVT_COMMIT}}));
    EXPECT_EQ(rt_test::Int(panel, kFile), 1);
    // An assistive tool's press: the same events, from the event processing.
    g_events.clear();
    rt_test::After(0, [] { EXPECT_EQ(g_events.size(), 0u) << "not inside the tool's request"; });
    rt_test::PressAction(panel, kFile);
    EXPECT_EQ(g_events, (S{{kFile, EVT_LEFT_CLICK}, {kFile, EVT_VALUE_CHANGED}, {kFile, EVT_COMMIT}}));
    EXPECT_EQ(rt_test::Int(panel, kFile), 0);
    rt_test::Click(panel, kFile);
    g_events.clear();
    rt_test::ChooseRing(panel, kRing, 2);
    rt_test::ChooseRing(panel, kRing, 2);
    EXPECT_EQ(g_events, (S{{kRing, EVT_VALUE_CHANGED}, {kRing, EVT_COMMIT}, {kRing, EVT_COMMIT}}));
    EXPECT_EQ(rt_test::Int(panel, kRing), 3);  // the port number
    EXPECT_GE(rt_test::RingLabels(panel, kRing).size(), 8u);

    // Numeric entry: a key that would leave the range is refused, as the
    // spin box does; the program's own values are clamped.
    rt_test::EnterNumber(panel, kPower, 70000);
    EXPECT_EQ(rt_test::Int(panel, kPower), 7000);
    rt_test::EnterNumber(panel, kPower, -300);
    EXPECT_EQ(rt_test::Int(panel, kPower), -30);
    rt_test::EnterNumber(panel, kValue, 5);  // an indicator takes no entry
    EXPECT_EQ(rt_test::Int(panel, kValue), 0);
    SetCtrlVal(panel, kPower, 99999.0);
    EXPECT_EQ(rt_test::Int(panel, kPower), 65285);

    // A dimmed control delivers nothing and changes nothing.
    g_events.clear();
    for (int c : {kGet, kFile, kRing, kPower})
        SetCtrlAttribute(panel, c, ATR_DIMMED, 1);
    rt_test::Click(panel, kGet);
    rt_test::Click(panel, kFile);
    rt_test::ChooseRing(panel, kRing, 4);
    rt_test::EnterNumber(panel, kPower, 1);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(rt_test::Int(panel, kFile), 1);
    EXPECT_TRUE(rt_test::Dimmed(panel, kGet));

    // The status line keeps every text shown; the chart its newest points.
    SetCtrlVal(panel, kStatus, "one");
    SetCtrlVal(panel, kStatus, "one");
    EXPECT_EQ(rt_test::TakeStatusHistory(), (std::vector<std::string>{"one", "one"}));
    SetCtrlAttribute(panel, kChart, ATR_POINTS_PER_SCREEN, 3);
    const int values[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    ASSERT_EQ(PlotStripChart(panel, kChart, values, 20, 0, 0, TYPE_INT), 0);
    EXPECT_EQ(rt_test::TracePoints(panel, kChart, 4), (std::vector<double>{12, 16, 20}));
    EXPECT_EQ(rt_test::TraceColor(panel, kChart, 4), 0xFF0000);
}

TEST_F(MemoryRuntime, FileDialogTakesTheQueuedAnswersInOrder) {
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string existing = dir + "/orv_mem_dialog_" + std::to_string(getpid()) + ".dat";
    std::ofstream(existing) << "x";
    char path[MAX_PATHNAME_LEN] = "x";

    EXPECT_EQ(FileSelectPopup(dir.c_str(), "KXpara.dat", "*.dat", "Title", BUTTON_OK, 0, 0, 1, 1, path),
              FILESEL_NONE);  // nothing queued: cancelled
    EXPECT_STREQ(path, "");
    const rt_test::FileDialogInfo shown = rt_test::LastFileDialog();
    EXPECT_TRUE(shown.shown);
    EXPECT_EQ(shown.title, "Title");
    EXPECT_EQ(shown.directory, dir);
    EXPECT_EQ(shown.defaultFile, "KXpara.dat");
    EXPECT_EQ(shown.filter, "*.dat");
    EXPECT_EQ(shown.button, BUTTON_OK);

    rt_test::AnswerNextFileDialog(existing);
    rt_test::AnswerNextFileDialog("");
    rt_test::AnswerNextFileDialog(dir + "/orv_mem_new.dat");
    rt_test::AnswerNextFileDialog(dir + "/orv_mem_missing.dat");
    EXPECT_EQ(FileSelectPopup(dir.c_str(), "", "", "", BUTTON_LOAD, 0, 0, 1, 0, path), FILESEL_EXISTING);
    EXPECT_EQ(path, existing);
    EXPECT_EQ(FileSelectPopup(dir.c_str(), "", "", "", BUTTON_LOAD, 0, 0, 1, 0, path), FILESEL_NONE);
    EXPECT_EQ(FileSelectPopup(dir.c_str(), "", "", "", BUTTON_OK, 0, 0, 1, 0, path), FILESEL_NEW);
    EXPECT_EQ(FileSelectPopup(dir.c_str(), "", "", "", BUTTON_LOAD, 0, 0, 1, 0, path), FILESEL_NONE)
        << "a file to load must exist";
    std::remove(existing.c_str());
}

TEST_F(MemoryRuntime, OpenedPortRingShowsWhetherEachDeviceIsConnected) {
    EXPECT_EQ(rt_test::RingLabels(panel, kRing).at(1), "COM2  (not connected)");
    auto s = Plug(2);
    const std::string dev = s->devicePath();
    rt_test::OpenRing(panel, kRing);
    EXPECT_EQ(rt_test::RingLabels(panel, kRing).at(1), "COM2  " + dev);
    EXPECT_EQ(ComPortPresent(2), 1);
    rt_test::ChooseRing(panel, kRing, 1);

    s->stop();
    EXPECT_EQ(RefreshComPorts(), 1);
    EXPECT_EQ(RefreshComPorts(), 0);
    EXPECT_EQ(ComPortPresent(2), 0);
    rt_test::OpenRing(panel, kRing);
    EXPECT_EQ(rt_test::RingLabels(panel, kRing).at(1), "COM2  " + dev + " (not connected)");
    EXPECT_EQ(rt_test::Int(panel, kRing), 2);  // the selection stays on its port
}

namespace {

// A peer that is not a sensor: "mem:loop" sends back what it gets 5 ms later,
// until it is closed.
struct Loop {
    std::vector<std::uint8_t> wire;
    double dueMs = 0;
    bool closed = false;
};
Loop g_loop;

}  // namespace

TEST_F(MemoryRuntime, AnyPeerServesALineAndTheLineLogShowsWhatPassed) {
    static QStringList log;
    log.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("orvanscope.line.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { log << text; });
    g_loop = {};
    orv_mem::LinePeers peers;
    peers.write = [](const std::string& d, const std::uint8_t* data, std::size_t n, double atMs) {
        if (d != "mem:loop" || g_loop.closed)
            return false;
        g_loop.wire.insert(g_loop.wire.end(), data, data + n);
        g_loop.dueMs = atMs + 5;
        return true;
    };
    peers.read = [](const std::string&, double nowMs) {
        std::vector<std::uint8_t> out;
        if (nowMs >= g_loop.dueMs)
            out.swap(g_loop.wire);
        return out;
    };
    peers.nextMs = [](const std::string&, double) { return g_loop.wire.empty() ? 1e300 : g_loop.dueMs; };
    peers.closed = [](const std::string& d, double) { return d != "mem:loop" || g_loop.closed; };
    orv_mem::SetLinePeers(peers);

    setenv("ORVANSCOPE_COM3", "mem:loop", 1);
    ASSERT_EQ(OpenComConfig(3, "", 19200, 0, 8, 1, 4096, 4096), 0);
    SetComTime(3, 0.1);
    const char hello[] = {0x01, 0x02, 0x7F};
    ASSERT_EQ(ComWrt(3, hello, 3), 3);
    char back[5] = {};
    EXPECT_EQ(ComRd(3, back, 5), 3);  // all there is, by the time-out
    EXPECT_EQ(std::string(back, 3), std::string(hello, 3));
    g_loop.closed = true;
    EXPECT_EQ(ComRd(3, back, 5), COM_ERR_IO);
    EXPECT_EQ(ComPortPresent(3), 0);
    CloseCom(3);

    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    kxsim::ConnectMemoryRuntime();
    // The bytes themselves are the program's to log, with what it made of
    // them; the runtime logs the line's own events.
    EXPECT_EQ(log, (QStringList{"COM3 open mem:loop 19200 baud", "COM3 device lost: line closed",
                                "COM3 rx nothing (0 of 5 bytes, device lost)", "COM3 closed"}));
}
