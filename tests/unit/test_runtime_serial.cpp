// The runtime's serial services against the simulated sensor on a pty.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "kxsim.h"
#include "runtime/core/port_table.h"
#include "runtime/core/usb_latency.h"
#include "runtime/runtime.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_runtime_serial";
    static char* argv[] = {name, nullptr};
    InitEngine(argc, argv);
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);  // lives until the process ends
}

// Processes events until `cond` holds or `timeoutMs` has passed.
bool PumpUntil(const std::function<bool()>& cond, int timeoutMs) {
    const auto start = Clock::now();
    while (!cond()) {
        if (MsSince(start) > timeoutMs)
            return false;
        QCoreApplication::processEvents();
        usleep(1000);
    }
    return true;
}

void Pump(int ms) {
    PumpUntil([] { return false; }, ms);
}

// What the notification saw.
struct Seen {
    int calls = 0;
    int events = 0;
    int depth = 0;
    int maxDepth = 0;
    bool duringComRd = false;
    bool pumpInside = false;  // the callback processes events before reading
    std::vector<std::vector<char>> frames;
};
Seen gSeen;
bool gInComRd = false;

void OnRx(int port, int events, void*) {
    ++gSeen.calls;
    gSeen.events |= events;
    gSeen.duringComRd |= gInComRd;
    gSeen.maxDepth = std::max(gSeen.maxDepth, ++gSeen.depth);
    if (gSeen.pumpInside)
        QCoreApplication::processEvents();
    std::vector<char> f(36);
    const int n = ComRd(port, f.data(), 36);
    if (n == 36)
        gSeen.frames.push_back(f);
    --gSeen.depth;
}

int Read(int port, char* buf, int n) {
    gInComRd = true;
    const int r = ComRd(port, buf, n);
    gInComRd = false;
    return r;
}

std::vector<std::uint8_t> Bytes(const kxsim::Frame& f) {
    return {f.begin(), f.end()};
}

int Write(int port, const kxsim::Frame& f) {
    return ComWrt(port, reinterpret_cast<const char*>(f.data()), static_cast<int>(f.size()));
}

int OpenPort1() {
    const int r = OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096);
    if (r >= 0) {
        SetComTime(1, 2.0);
        FlushInQ(1);
        FlushOutQ(1);
        SetCTSMode(1, 0);
    }
    return r;
}

class RuntimeSerial : public ::testing::Test {
  protected:
    void SetUp() override {
        EnsureApp();
        gSeen = Seen{};
        gInComRd = false;
        kxsim::Options o;
        o.fast = true;
        sensor_ = std::make_unique<kxsim::Sensor>(o);
        ASSERT_TRUE(sensor_->start());
        setenv("ORVANSCOPE_COM1", sensor_->devicePath().c_str(), 1);
        ASSERT_EQ(OpenPort1(), 0);
    }
    void TearDown() override { CloseCom(1); }

    void Install() { ASSERT_EQ(InstallComCallback(1, 0x8006, 36, 85, OnRx, nullptr), 0); }

    std::unique_ptr<kxsim::Sensor> sensor_;
    const kxsim::Frame echo_ = kxsim::MakeFrame(85, 7, kxsim::kDefaultBlock);
};

}  // namespace

TEST(PortTable, NumbersStayWithTheirDevicesAndFreeNumbersAreReused) {
    using orv_rt::SeenDevice;
    using Paths = std::vector<std::string>;
    std::vector<orv_rt::PortSlot> table(4);
    auto paths = [&] {  // "-" marks a device that is not connected
        Paths out;
        for (const auto& slot : table)
            out.push_back(slot.path + (slot.present ? "" : "-"));
        return out;
    };
    const SeenDevice a{"/dev/ttyUSB0", "usb:0403:6001:A1"}, b{"/dev/ttyUSB1", "usb:0403:6001:B2"};
    const SeenDevice s0{"/dev/ttyS0", "/dev/ttyS0"}, acm{"/dev/ttyACM0", "/dev/ttyACM0"};

    EXPECT_TRUE(orv_rt::AssignPorts(table, {a, b, s0}, 1));  // first fill: in the system's order
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyS0", "-"}));
    EXPECT_FALSE(orv_rt::AssignPorts(table, {a, b, s0}, 2));

    // a pulled: its number waits for it; a new device takes a number never used.
    EXPECT_TRUE(orv_rt::AssignPorts(table, {b, s0, acm}, 3));
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB0-", "/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyACM0"}));
    // a back under another name: its number follows it there.
    const SeenDevice aMoved{"/dev/ttyUSB2", a.identity};
    EXPECT_TRUE(orv_rt::AssignPorts(table, {b, aMoved, s0, acm}, 4));
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB2", "/dev/ttyUSB1", "/dev/ttyS0", "/dev/ttyACM0"}));

    // Every number used: a new device gets the number absent the longest, and
    // none while every device is there.
    const SeenDevice c{"/dev/ttyUSB3", "usb:0403:6001:C3"};
    EXPECT_TRUE(orv_rt::AssignPorts(table, {aMoved, s0, c}, 5));  // b and acm gone, both at 5
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyS0", "/dev/ttyACM0-"}));
    EXPECT_TRUE(orv_rt::AssignPorts(table, {aMoved, c}, 6));  // s0 gone later than acm
    EXPECT_TRUE(orv_rt::AssignPorts(table, {aMoved, c, b}, 7));
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyS0-", "/dev/ttyUSB1"}));
    EXPECT_TRUE(orv_rt::AssignPorts(table, {aMoved, c, b, s0, acm}, 8));
    EXPECT_EQ(paths(), (Paths{"/dev/ttyUSB2", "/dev/ttyUSB3", "/dev/ttyS0", "/dev/ttyUSB1"}));
}

TEST(RuntimeSerialOpen, FailureCodesAndPortsNotOpen) {
    EnsureApp();
    EXPECT_EQ(OpenComConfig(0, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_INVALID_PORT);
    EXPECT_EQ(OpenComConfig(MAX_COM_PORTS + 1, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_INVALID_PORT);
    EXPECT_STREQ(ComPortDevice(0), "");

    setenv("ORVANSCOPE_COM5", "/nonexistent/ttyNothing", 1);
    EXPECT_STREQ(ComPortDevice(5), "/nonexistent/ttyNothing");
    EXPECT_EQ(OpenComConfig(5, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_NO_PORT);

    char file[] = "/tmp/serial_not_a_tty_XXXXXX";
    const int fd = mkstemp(file);
    ASSERT_GE(fd, 0);
    close(fd);
    setenv("ORVANSCOPE_COM6", file, 1);
    EXPECT_EQ(OpenComConfig(6, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_CANNOT_OPEN);
    std::remove(file);
    setenv("ORVANSCOPE_COM7", "/dev/null", 1);  // a device, but no terminal
    EXPECT_EQ(OpenComConfig(7, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_CANNOT_OPEN);

    // A number beyond the system's port list maps to nothing.
    for (int n = MAX_COM_PORTS; n >= 1; --n) {
        unsetenv(("ORVANSCOPE_COM" + std::to_string(n)).c_str());
        if (*ComPortDevice(n) == '\0') {
            EXPECT_EQ(OpenComConfig(n, "", 19200, 0, 8, 1, 4096, 4096), COM_ERR_NO_PORT);
            break;
        }
    }

    char buf[36] = {};
    EXPECT_EQ(ComWrt(7, buf, 36), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComRd(7, buf, 36), COM_ERR_NOT_OPEN);
    EXPECT_EQ(GetInQLen(7), COM_ERR_NOT_OPEN);
    EXPECT_EQ(FlushInQ(7), COM_ERR_NOT_OPEN);
    EXPECT_EQ(InstallComCallback(7, 0x8006, 36, 85, OnRx, nullptr), COM_ERR_NOT_OPEN);
    EXPECT_EQ(ComRd(0, buf, 36), COM_ERR_INVALID_PORT);
}

TEST_F(RuntimeSerial, WritesAndReadsAFrameAndReopens) {
    EXPECT_STREQ(ComPortDevice(1), sensor_->devicePath().c_str());
    ASSERT_EQ(Write(1, echo_), 36);
    char reply[36] = {};
    ASSERT_EQ(Read(1, reply, 36), 36);
    EXPECT_EQ(static_cast<unsigned char>(reply[5]), 0xAA);
    ASSERT_TRUE(sensor_->waitForFrames(1, 2000));
    EXPECT_EQ(sensor_->received()[0], echo_);

    // Opening an open port starts it afresh.
    ASSERT_EQ(OpenPort1(), 0);
    ASSERT_EQ(Write(1, echo_), 36);
    EXPECT_EQ(Read(1, reply, 36), 36);
}

TEST_F(RuntimeSerial, ReadReturnsWhatArrivedByTheTimeout) {
    SetComTime(1, 0.3);
    sensor_->setSilent(true);
    ASSERT_EQ(Write(1, echo_), 36);
    char reply[36] = {};
    auto t = Clock::now();
    EXPECT_EQ(Read(1, reply, 36), 0);
    EXPECT_GE(MsSince(t), 280);

    sensor_->setSilent(false);
    sensor_->setShortBytes(10);
    ASSERT_EQ(Write(1, echo_), 36);
    t = Clock::now();
    EXPECT_EQ(Read(1, reply, 36), 10);
    EXPECT_GE(MsSince(t), 280);
    EXPECT_EQ(static_cast<unsigned char>(reply[5]), 0xAA);
}

TEST_F(RuntimeSerial, NotificationFiresOncePerCompleteFrame) {
    Install();
    ASSERT_EQ(Write(1, echo_), 36);
    ASSERT_TRUE(PumpUntil([] { return gSeen.calls == 1; }, 3000));
    EXPECT_EQ(gSeen.events, COM_EVT_RXCOUNT);
    ASSERT_EQ(gSeen.frames.size(), 1u);
    EXPECT_EQ(static_cast<unsigned char>(gSeen.frames[0][5]), 0xAA);

    // Two frames arriving together: two notifications, one frame each.
    const kxsim::Frame a = kxsim::MakeFrame(1, 8, {600, 700, 800});
    const kxsim::Frame b = kxsim::MakeFrame(2, 2, {});
    auto two = Bytes(a);
    const auto bb = Bytes(b);
    two.insert(two.end(), bb.begin(), bb.end());
    ASSERT_TRUE(sensor_->inject(two));
    ASSERT_TRUE(PumpUntil([] { return gSeen.calls == 3; }, 3000));
    ASSERT_EQ(gSeen.frames.size(), 3u);
    EXPECT_EQ(gSeen.frames[1][1], 1);
    EXPECT_EQ(gSeen.frames[2][1], 2);
    Pump(100);
    EXPECT_EQ(gSeen.calls, 3);
    EXPECT_EQ(gSeen.maxDepth, 1);
}

TEST_F(RuntimeSerial, NotificationIsNeverNestedInItself) {
    Install();
    gSeen.pumpInside = true;  // the callback processes events, as a waiting command does
    auto three = Bytes(echo_);
    for (int i = 0; i < 2; ++i)
        three.insert(three.end(), echo_.begin(), echo_.end());
    ASSERT_TRUE(sensor_->inject(three));
    ASSERT_TRUE(PumpUntil([] { return gSeen.frames.size() == 3; }, 3000));
    EXPECT_EQ(gSeen.maxDepth, 1);
    EXPECT_EQ(gSeen.calls, 3);
}

TEST_F(RuntimeSerial, ThirtyFiveBytesNeverFire) {
    Install();
    ASSERT_TRUE(sensor_->inject(std::vector<std::uint8_t>(35, 0x11)));
    ASSERT_TRUE(PumpUntil([] { return GetInQLen(1) == 35; }, 3000));
    Pump(200);
    EXPECT_EQ(gSeen.calls, 0);
    ASSERT_TRUE(sensor_->inject({0x22}));
    ASSERT_TRUE(PumpUntil([] { return gSeen.calls == 1; }, 3000));
    ASSERT_EQ(gSeen.frames.size(), 1u);
    EXPECT_EQ(gSeen.frames[0][35], 0x22);
}

TEST_F(RuntimeSerial, DirectReadTakesBytesBeforeTheNotification) {
    Install();
    ASSERT_EQ(Write(1, echo_), 36);
    char reply[36] = {};
    ASSERT_EQ(Read(1, reply, 36), 36);
    Pump(200);
    EXPECT_EQ(gSeen.calls, 0);
    EXPECT_FALSE(gSeen.duringComRd);

    // Bytes already waiting when the read starts are taken by the read too.
    ASSERT_TRUE(sensor_->inject(Bytes(echo_)));
    const auto start = Clock::now();
    while (GetInQLen(1) < 36 && MsSince(start) < 3000)
        usleep(1000);  // no event processing here: nothing may be notified
    ASSERT_EQ(Write(1, echo_), 36);
    char two[72] = {};
    EXPECT_EQ(Read(1, two, 72), 72);
    EXPECT_FALSE(gSeen.duringComRd);
    Pump(200);
    EXPECT_EQ(gSeen.calls, 0);
}

TEST_F(RuntimeSerial, FlushInQDiscardsQueuedReplies) {
    ASSERT_EQ(Write(1, echo_), 36);
    ASSERT_EQ(Write(1, echo_), 36);
    ASSERT_TRUE(sensor_->waitForReplies(2, 3000));
    ASSERT_TRUE(PumpUntil([] { return GetInQLen(1) == 72; }, 3000));
    char part[10] = {};
    ASSERT_EQ(Read(1, part, 10), 10);  // part of it now sits in the runtime's own buffer
    EXPECT_EQ(FlushInQ(1), 0);
    EXPECT_EQ(GetInQLen(1), 0);
    SetComTime(1, 0.1);
    char reply[36] = {};
    EXPECT_EQ(Read(1, reply, 36), 0);
}

TEST_F(RuntimeSerial, LineThatHangsUpNeitherCrashesNorSpins) {
    Install();
    sensor_->setHangupAfter(1);
    ASSERT_EQ(Write(1, echo_), 36);
    ASSERT_TRUE(PumpUntil([] { return gSeen.calls == 1; }, 3000));
    ASSERT_TRUE(PumpUntil([&] { return sensor_->hungUp(); }, 3000));

    const double cpu0 = CpuMs();
    Pump(500);
    EXPECT_LT(CpuMs() - cpu0, 250.0);  // an idle loop, not a busy one

    char buf[36] = {};
    const auto t = Clock::now();
    EXPECT_NE(Write(1, echo_), 36);
    EXPECT_LT(Read(1, buf, 36), 1);
    EXPECT_LT(MsSince(t), 1500);  // fails fast rather than waiting out the time-out
    Pump(100);
    EXPECT_EQ(gSeen.calls, 1);

    // Close, plug in a new line, open again: works.
    EXPECT_EQ(CloseCom(1), 0);
    kxsim::Options o;
    o.fast = true;
    sensor_ = std::make_unique<kxsim::Sensor>(o);
    ASSERT_TRUE(sensor_->start());
    setenv("ORVANSCOPE_COM1", sensor_->devicePath().c_str(), 1);
    ASSERT_EQ(OpenPort1(), 0);
    ASSERT_EQ(Write(1, echo_), 36);
    EXPECT_EQ(Read(1, buf, 36), 36);
}

TEST(RuntimeSerialUsb, LatencyTimerIsLoweredWhereAllowed) {
    EnsureApp();
    static QStringList log;
    QLoggingCategory::setFilterRules(QStringLiteral("orvanscope.line.debug=true"));
    const QtMessageHandler previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { log << text; });

    // A stand-in for /sys/class/tty: ttyUSB0 writable at 16 ms; ttyUSB1 a
    // link to a sysctl file that holds a number above 1 and refuses writes
    // even from the superuser; ttyS0 without a timer.
    QTemporaryDir sys;
    const auto timer = [&](const char* tty) { return sys.path() + "/" + tty + "/device/latency_timer"; };
    for (const char* tty : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        ASSERT_TRUE(QDir(sys.path()).mkpath(QString(tty) + "/device"));
    QFile usb0(timer("ttyUSB0"));
    ASSERT_TRUE(usb0.open(QIODevice::WriteOnly) && usb0.write("16\n") == 3 && usb0.flush());
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc/sys/kernel/ngroups_max"), timer("ttyUSB1")));

    const orv_rt::UsbLatency set = orv_rt::AdjustUsbLatency("COM1 /dev/ttyUSB0", "ttyUSB0", sys.path(), -1);
    EXPECT_EQ(16, set.foundMs);
    EXPECT_EQ(1, set.nowMs);  // read back from the file
    ASSERT_EQ(1, log.size());
    EXPECT_TRUE(log[0].startsWith("COM1 /dev/ttyUSB0: USB adapter latency timer 16 ms, set to 1 ms"))
        << log[0].toStdString();

    const orv_rt::UsbLatency kept = orv_rt::AdjustUsbLatency("COM2 /dev/ttyUSB1", "ttyUSB1", sys.path(), -1);
    EXPECT_GT(kept.foundMs, 1);
    EXPECT_EQ(kept.foundMs, kept.nowMs);
    ASSERT_EQ(2, log.size());
    EXPECT_TRUE(log[1].contains("echo 1 | sudo tee " + timer("ttyUSB1")) && log[1].contains("udev"))
        << log[1].toStdString();

    EXPECT_EQ(-1, orv_rt::AdjustUsbLatency("COM3 /dev/ttyS0", "ttyS0", sys.path(), -1).foundMs);
    EXPECT_EQ(2, log.size());

    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
}
