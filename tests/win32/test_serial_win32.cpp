// The serial line's face on the Win32 communications API
// (src/runtime/core/serial_win32.cpp), built for this system against a fake of
// that API (fake/windows.h, fake_comm.cpp) and run on the runtime without the
// toolkit. The Wine run (tests/wine) drives the same face on a real port of
// Wine's; these cases cover what Wine's pseudo-terminal ports cannot show: a
// port that another program holds, a device that vanishes with an error, the
// time-outs each call is given.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "fake_comm.h"
#include "runtime/rtcore.h"

namespace {

constexpr long kBaud = 19200;

int Open(int port, const char* device = "") {
    return OpenComConfig(port, device, kBaud, 0, 8, 1, 4096, 4096);
}

// Runs the event processing until `done` holds or `seconds` pass.
bool WaitUntil(const std::function<bool()>& done, double seconds) {
    const double end = Timer() + seconds;
    while (!done()) {
        if (Timer() > end)
            return false;
        ProcessSystemEvents();
    }
    return true;
}

const fake_comm::Read* LastWaitingRead(const fake_comm::Port& p) {
    for (auto it = p.reads.rbegin(); it != p.reads.rend(); ++it)
        if (it->timeouts.ReadTotalTimeoutMultiplier == MAXDWORD)
            return &*it;
    return nullptr;
}

class Win32Face : public ::testing::Test {
  protected:
    void SetUp() override {
        fake_comm::Reset();
        InitConsoleEngine(0, nullptr);
    }
    void TearDown() override {
        for (int port = 1; port <= MAX_COM_PORTS; ++port)
            CloseCom(port);
    }
    std::array<char, 36> frame{0x00, 0x55, 0x00, 0x07};
    std::array<char, 36> in{};
};

TEST_F(Win32Face, OpensTheComPortForItselfAt19200Baud8N1WithoutHandshakeOrSaysWhyNot) {
    const fake_comm::Port& com3 = fake_comm::At("COM3");
    ASSERT_EQ(0, Open(3));
    EXPECT_EQ("\\\\.\\COM3", com3.openedAs);
    EXPECT_EQ(0u, com3.shareMode);  // no other program may open it meanwhile
    EXPECT_EQ(19200u, com3.dcb.BaudRate);
    EXPECT_EQ(8, com3.dcb.ByteSize);
    EXPECT_EQ(NOPARITY, com3.dcb.Parity);
    EXPECT_EQ(ONESTOPBIT, com3.dcb.StopBits);
    EXPECT_TRUE(com3.dcb.fBinary);
    EXPECT_FALSE(com3.dcb.fOutxCtsFlow || com3.dcb.fOutxDsrFlow || com3.dcb.fOutX || com3.dcb.fInX ||
                 com3.dcb.fNull || com3.dcb.fErrorChar || com3.dcb.fAbortOnError || com3.dcb.fParity);
    EXPECT_EQ(DTR_CONTROL_ENABLE, com3.dcb.fDtrControl);
    EXPECT_EQ(RTS_CONTROL_ENABLE, com3.dcb.fRtsControl);
    ASSERT_EQ(0, SetCTSMode(3, 1));
    EXPECT_TRUE(com3.dcb.fOutxCtsFlow);
    EXPECT_EQ(RTS_CONTROL_HANDSHAKE, com3.dcb.fRtsControl);

    // Port n is COMn where the system has one; a device is named either way.
    EXPECT_STREQ("COM3", ComPortDevice(3));
    EXPECT_EQ(1, ComPortPresent(3));
    EXPECT_STREQ("", ComPortDevice(4));
    EXPECT_EQ(0, ComPortPresent(4));
    fake_comm::At("COM40");
    ASSERT_EQ(0, Open(1, "COM40"));
    EXPECT_EQ("\\\\.\\COM40", fake_comm::At("COM40").openedAs);
    fake_comm::At("COM7");
    ASSERT_EQ(0, Open(2, "\\\\.\\COM7"));
    EXPECT_EQ("\\\\.\\COM7", fake_comm::At("COM7").openedAs);

    // Windows gives a port to one program at a time (Wine gives it to any).
    fake_comm::At("COM4").heldElsewhere = true;
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, Open(4));
    EXPECT_STREQ("in use by another program", ComOpenFailureReason(4));
    EXPECT_EQ(COM_ERR_NO_PORT, Open(5));
    EXPECT_STREQ("no such device", ComOpenFailureReason(5));
    fake_comm::At("COM6").serial = false;
    EXPECT_EQ(COM_ERR_CANNOT_OPEN, Open(6));
    EXPECT_STREQ("not a serial device", ComOpenFailureReason(6));
    EXPECT_FALSE(fake_comm::At("COM6").open);
}

TEST_F(Win32Face, AReadReturnsAtItsFirstByteOrAtItsTimeOutAndAWriteAtItsTimeOut) {
    fake_comm::Port& com1 = fake_comm::At("COM1");
    ASSERT_EQ(0, Open(1));
    ASSERT_EQ(0, SetComTime(1, 2.0));
    fake_comm::Arrive("COM1", {0x00}, 40);
    fake_comm::Arrive("COM1", {0x55}, 1000);
    double start = Timer();
    ASSERT_EQ(1, ComRd(1, in.data(), 1));
    EXPECT_LT(Timer() - start, 0.9) << "waited past the first byte";
    const fake_comm::Read* wait = LastWaitingRead(com1);
    ASSERT_NE(nullptr, wait);
    EXPECT_EQ(MAXDWORD, wait->timeouts.ReadIntervalTimeout);
    EXPECT_GE(wait->timeouts.ReadTotalTimeoutConstant, 1900u);  // the time left of the 2 s
    EXPECT_LE(wait->timeouts.ReadTotalTimeoutConstant, 2000u);

    // What has arrived is counted and read without waiting for more.
    fake_comm::Arrive("COM1", std::vector<std::uint8_t>(35, 0xAB));
    EXPECT_EQ(35, GetInQLen(1));
    EXPECT_EQ(35, ComRd(1, in.data(), 35));

    // Nothing more by the time-out: the read ends then, with nothing.
    ASSERT_EQ(0, FlushInQ(1));
    ASSERT_EQ(0, SetComTime(1, 0.1));
    start = Timer();
    EXPECT_EQ(0, ComRd(1, in.data(), 1));
    EXPECT_GE(Timer() - start, 0.09);
    EXPECT_LT(Timer() - start, 0.5);

    // A device that takes only part of a frame: the write ends at its time-out.
    com1.writeTakes = 10;
    start = Timer();
    EXPECT_EQ(10, ComWrt(1, frame.data(), 36));
    EXPECT_GE(Timer() - start, 0.09);
    EXPECT_LE(com1.timeouts.WriteTotalTimeoutConstant, 100u);

    ASSERT_EQ(0, FlushInQ(1));
    EXPECT_EQ(PURGE_RXCLEAR | PURGE_RXABORT, com1.purges.back());
    ASSERT_EQ(0, FlushOutQ(1));
    EXPECT_EQ(PURGE_TXCLEAR | PURGE_TXABORT, com1.purges.back());
    ASSERT_EQ(0, CloseCom(1));
    EXPECT_EQ(PURGE_RXCLEAR | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_TXABORT, com1.purges.back());
    EXPECT_FALSE(com1.open);
}

int gReopened = 0;
int gNotified = 0;

void OnLine(int port, int events, void*) {
    if (events & COM_EVT_REOPENED)
        ++gReopened;
    if (events & COM_EVT_RXCOUNT) {
        std::array<char, 36> frame{};
        if (ComRd(port, frame.data(), 36) == 36)
            ++gNotified;
    }
}

TEST_F(Win32Face, TheNotificationComesFromTheEventProcessingOncePerFrame) {
    fake_comm::At("COM1");
    ASSERT_EQ(0, Open(1));
    gNotified = 0;
    ASSERT_EQ(0, InstallComCallback(1, COM_EVT_RXCOUNT, 36, 0, OnLine, nullptr));
    fake_comm::Arrive("COM1", std::vector<std::uint8_t>(20, 0x11), 20);
    fake_comm::Arrive("COM1", std::vector<std::uint8_t>(16, 0x22), 60);
    EXPECT_TRUE(WaitUntil([] { return gNotified == 1; }, 2.0));
    WaitUntil([] { return false; }, 0.1);
    EXPECT_EQ(1, gNotified);
}

TEST_F(Win32Face, AVanishedDeviceLosesTheLineAndItsPortOpensAgainOnceItIsBack) {
    fake_comm::Port& com1 = fake_comm::At("COM1");
    ASSERT_EQ(0, Open(1));
    gReopened = 0;
    ASSERT_EQ(0, InstallComCallback(1, COM_EVT_REOPENED, 0, 0, OnLine, nullptr));

    // As Windows tells it: every call fails.
    com1.gone = true;
    EXPECT_EQ(COM_ERR_IO, ComWrt(1, frame.data(), 36));
    EXPECT_EQ(COM_ERR_IO, ComRd(1, in.data(), 1));
    WaitUntil([] { return false; }, 0.7);  // the attempts to open it again fail meanwhile
    EXPECT_EQ(0, gReopened);
    com1.gone = false;
    ASSERT_TRUE(WaitUntil([] { return gReopened == 1; }, 2.0));
    EXPECT_EQ(36, ComWrt(1, frame.data(), 36));
    EXPECT_EQ(2, com1.opens);

    // As Wine's pseudo-terminal tells it: reads just time out, the status fails.
    com1.gone = com1.goneOnlyForStatus = true;
    ASSERT_EQ(0, SetComTime(1, 0.05));
    EXPECT_EQ(COM_ERR_IO, ComRd(1, in.data(), 1));
    EXPECT_EQ(COM_ERR_IO, ComWrt(1, frame.data(), 36));
}

}  // namespace
