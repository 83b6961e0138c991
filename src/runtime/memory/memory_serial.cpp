// The in-memory line: the face of the line model (runtime/line/line.h) in the
// memory runtime. Port n is the device named by ORVANSCOPE_COM<n>, as in the
// real runtime, without a system port list. A "mem:" device reaches the peer
// of that name (line_peers.h) and is connected while the peer's line is up;
// a lost one never comes back. Any other name fails as a device that cannot
// be used here ("Cannot open port" when its path exists, else "No serial port
// found"). A write returns once the bytes are on the wire, n * 10 bits at the
// baud rate later on the virtual clock; a read waits by moving the clock on
// to each arrival and never delivers events.
#include <QFileInfo>
#include <QLoggingCategory>

#include <algorithm>
#include <array>

#include "runtime/line/line.h"
#include "runtime/memory/line_peers.h"
#include "runtime/memory/memory_internal.h"

namespace {

using orv_line::State;
using orv_mem::AdvanceTo;
using orv_mem::NowMs;

Q_LOGGING_CATEGORY(lcMemLine, "orvanscope.line", QtWarningMsg)

// Until peers are installed, no peer is there.
orv_mem::LinePeers gPeers{
    [](const std::string&, const std::uint8_t*, std::size_t, double) { return false; },
    [](const std::string&, double) { return std::vector<std::uint8_t>{}; },
    [](const std::string&, double) { return orv_mem::kNever; },
    [](const std::string&, double) { return true; },
};

std::array<double, MAX_COM_PORTS + 1> gByteMs{};  // time of one byte on the wire, per port

bool IsMemoryName(const std::string& device) {
    return device.rfind("mem:", 0) == 0;
}

bool PathExists(const std::string& path) {
    return QFileInfo::exists(QString::fromLocal8Bit(path.c_str()));
}

}  // namespace

namespace orv_mem {

void SetLinePeers(const LinePeers& peers) {
    gPeers = peers;
}

double ClockMs() {
    return NowMs();
}

void ClockStep() {
    Step();
}

void SerialPoll() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        orv_line::Arrived(port);
}

double SerialNextMs() {
    double next = kNever;
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        if (State(port).open && !State(port).dead)
            next = std::min(next, gPeers.nextMs(State(port).device, NowMs()));
    return next;
}

bool SerialDue() {
    return orv_line::Due();
}

bool SerialBusy() {
    return SerialNextMs() < kNever;
}

void SerialRun() {
    orv_line::RunDue();
}

void CloseAllPorts() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        if (State(port).open)
            CloseCom(port);
}

}  // namespace orv_mem

namespace orv_line::face {

double NowMs() {
    return orv_mem::NowMs();
}

std::string Device(int port) {
    return EnvDevice(port);
}

bool Present(int port) {
    const std::string dev = EnvDevice(port);
    if (dev.empty())
        return false;
    return IsMemoryName(dev) ? !gPeers.closed(dev, NowMs()) : PathExists(dev);
}

void Rescan() {}

int Find(int port, std::string* device, std::string*, std::string*) {
    *device = EnvDevice(port);
    return 0;
}

int Open(int port, const std::string& device, const Settings& s, std::string* why) {
    if (!IsMemoryName(device)) {
        const bool exists = PathExists(device);
        *why = exists ? "not a line in memory" : "no such device";
        return exists ? COM_ERR_CANNOT_OPEN : COM_ERR_NO_PORT;
    }
    if (gPeers.closed(device, NowMs())) {
        *why = "no line in memory by that name";  // the device has gone
        return COM_ERR_NO_PORT;
    }
    const int bits = 1 + (s.dataBits >= 5 && s.dataBits <= 8 ? s.dataBits : 8) + (s.parity > 0 ? 1 : 0) +
                     (s.stopBits == 2 ? 2 : 1);
    gByteMs[static_cast<std::size_t>(port)] =
        s.baudRate > 0 ? bits * 1000.0 / static_cast<double>(s.baudRate) : 0.0;
    return 0;
}

void Opened(int, const std::string&) {}
void Close(int) {}
void SetHandshake(int, bool) {}
void Lost(int) {}

void Fetch(int port, std::deque<std::uint8_t>& queue, std::size_t /*room: the line holds nothing back*/) {
    const std::vector<std::uint8_t> bytes = gPeers.read(State(port).device, NowMs());
    queue.insert(queue.end(), bytes.begin(), bytes.end());
    if (gPeers.closed(State(port).device, NowMs()))
        orv_line::Lost(port, "line closed");
}

long Pending(int) {
    return 0;
}

bool Wait(int port, double deadlineMs) {
    const double next = gPeers.nextMs(State(port).device, NowMs());
    AdvanceTo(std::min(next, deadlineMs));
    return next <= deadlineMs;
}

int Write(int port, const char* data, int count, double, std::string* why) {
    if (!gPeers.write(State(port).device, reinterpret_cast<const std::uint8_t*>(data),
                      static_cast<std::size_t>(count), NowMs())) {
        *why = "line closed";
        orv_line::Lost(port, *why);
        return -1;
    }
    AdvanceTo(NowMs() + count * gByteMs[static_cast<std::size_t>(port)]);
    return count;
}

void Flush(int, bool) {}
void Blocking() {}
void Wake(int) {}  // each step of the event processing asks SerialDue

bool LogOn() {
    return lcMemLine().isDebugEnabled();
}

void Log(const std::string& line) {
    qCDebug(lcMemLine).noquote() << line.c_str();
}

}  // namespace orv_line::face
