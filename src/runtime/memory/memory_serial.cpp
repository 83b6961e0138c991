// Serial ports of the memory runtime: each port reaches a simulated sensor in
// memory (kxsim with Options::inMemory) on the virtual clock.
//
// Port n is the device named by ORVANSCOPE_COM<n> (read at every open and
// refresh), as in the real runtime; there is no system port list. A device is
// connected while its in-memory sensor's line is up (any other name: while its
// path exists), so a test makes one come and go by starting and stopping a
// sensor. A port whose line closed is not opened again by itself: a stopped
// sensor's name never comes back. A name "mem:N" of a running
// in-memory sensor opens; any other name fails as a device that cannot be
// used here: "No serial port found" when nothing by that name exists,
// "Cannot open port" when it exists (a real pseudo-terminal, say).
//
// A write hands the bytes to the sensor at the current time and returns once
// they are on the wire, n * 10 bits at the port's baud rate later (as a serial
// line's driver does; a pseudo-terminal would return at once). A read takes
// what has arrived, moving the clock on to each arrival until it has the
// bytes it asks for or its time-out passes; it never delivers events. A line
// that closes (the sensor hangs up or is stopped) leaves the port dead, as a
// pulled adapter does: reads and writes fail at once with COM_ERR_IO, and the
// port is closed underneath at the next step of event processing, until the
// program closes it and opens it again.
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "kxsim.h"
#include "runtime/memory/memory_internal.h"
#include "runtime/rtcore.h"

namespace {

using orv_mem::NowMs;

constexpr int kDefaultTimeoutMs = 2000;

struct Port {
    bool open = false;
    bool dead = false;         // the line closed; fail fast until closed
    bool closedUnder = false;  // a dead port after the next event processing
    std::string device;
    int timeoutMs = kDefaultTimeoutMs;
    double byteMs = 0;  // time of one byte on the wire
    ComCallbackPtr callback = nullptr;
    void* callbackData = nullptr;
    int notifyCount = 0;
    bool inCallback = false;
    std::deque<std::uint8_t> in;  // the input queue: bytes arrived and not read
};

std::array<Port, MAX_COM_PORTS + 1> gPorts;
std::array<std::array<char, MAX_PATHNAME_LEN>, MAX_COM_PORTS + 1> gDeviceNames{};
// What each port number showed at the last refresh: its device and whether connected.
std::array<std::pair<std::string, bool>, MAX_COM_PORTS + 1> gShown{};

// In-memory sensors wait on the runtime's clock and pump its events.
const bool gClockInstalled = [] {
    kxsim::SetMemoryClock([] { return orv_mem::NowMs(); }, [] { orv_mem::Step(); });
    return true;
}();

bool ValidPort(int port) {
    return port >= 1 && port <= MAX_COM_PORTS;
}

Port* OpenPort(int port) {
    if (!ValidPort(port))
        return nullptr;
    Port& p = gPorts[static_cast<std::size_t>(port)];
    return p.open ? &p : nullptr;
}

int FailCode(int port) {
    return ValidPort(port) ? COM_ERR_NOT_OPEN : COM_ERR_INVALID_PORT;
}

bool IsMemoryName(const std::string& device) {
    return device.rfind("mem:", 0) == 0;
}

std::string DeviceFor(int port) {
    if (!ValidPort(port))
        return {};
    const std::string var = "ORVANSCOPE_COM" + std::to_string(port);
    const char* env = std::getenv(var.c_str());
    return env ? std::string(env) : std::string();
}

// The sensor behind an open port while its line is up.
kxsim::Sensor* LiveSensor(const Port& p) {
    kxsim::Sensor* s = kxsim::FindInMemory(p.device);
    return s && !s->lineClosed(NowMs()) ? s : nullptr;
}

// Brings one port up to the clock.
void Poll(Port& p) {
    if (!p.open || p.dead)
        return;
    kxsim::Sensor* s = kxsim::FindInMemory(p.device);
    if (s) {
        const std::vector<std::uint8_t> bytes = s->lineRead(NowMs());
        p.in.insert(p.in.end(), bytes.begin(), bytes.end());
    }
    if (!s || s->lineClosed(NowMs()))
        p.dead = true;
}

bool NotifyDue(const Port& p) {
    return p.open && !p.dead && p.callback && !p.inCallback &&
           p.in.size() >= static_cast<std::size_t>(p.notifyCount);
}

}  // namespace

namespace orv_mem {

void SerialPoll() {
    for (Port& p : gPorts)
        Poll(p);
}

double SerialNextMs() {
    double next = kNever;
    for (const Port& p : gPorts) {
        if (!p.open || p.dead)
            continue;
        if (kxsim::Sensor* s = kxsim::FindInMemory(p.device))
            next = std::min(next, s->lineNextMs(NowMs()));
    }
    return next;
}

bool SerialDue() {
    for (const Port& p : gPorts)
        if ((p.open && p.dead && !p.closedUnder) || NotifyDue(p))
            return true;
    return false;
}

bool SerialBusy() {
    return SerialNextMs() < kNever;
}

void SerialRun() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        Port& p = gPorts[static_cast<std::size_t>(port)];
        if (p.open && p.dead && !p.closedUnder) {
            p.closedUnder = true;
            p.in.clear();
        }
        if (!NotifyDue(p))
            continue;
        p.inCallback = true;
        p.callback(port, COM_EVT_RXCOUNT, p.callbackData);
        gPorts[static_cast<std::size_t>(port)].inCallback = false;
    }
}

void CloseAllPorts() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        if (OpenPort(port))
            CloseCom(port);
}

}  // namespace orv_mem

const char* ComPortDevice(int port) {
    if (!ValidPort(port))
        return "";
    auto& slot = gDeviceNames[static_cast<std::size_t>(port)];
    const std::string dev = DeviceFor(port);
    const std::size_t n = std::min(dev.size(), slot.size() - 1);
    std::memcpy(slot.data(), dev.data(), n);
    slot[n] = '\0';
    return slot.data();
}

int ComPortPresent(int port) {
    const std::string dev = DeviceFor(port);
    if (dev.empty())
        return 0;
    if (!IsMemoryName(dev))
        return QFileInfo::exists(QString::fromLocal8Bit(dev.c_str())) ? 1 : 0;
    kxsim::Sensor* s = kxsim::FindInMemory(dev);
    return s && !s->lineClosed(NowMs()) ? 1 : 0;
}

int RefreshComPorts() {
    bool changed = false;
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        std::pair<std::string, bool> now{DeviceFor(port), ComPortPresent(port) != 0};
        auto& was = gShown[static_cast<std::size_t>(port)];
        if (now != was) {
            changed = true;
            was = std::move(now);
        }
    }
    return changed ? 1 : 0;
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int /*inputQueueSize*/, int /*outputQueueSize*/) {
    if (!ValidPort(port))
        return COM_ERR_INVALID_PORT;
    Port& p = gPorts[static_cast<std::size_t>(port)];
    if (p.open)
        CloseCom(port);
    const std::string device = deviceName && *deviceName ? std::string(deviceName) : DeviceFor(port);
    if (device.empty())
        return COM_ERR_NO_PORT;
    if (!IsMemoryName(device))
        return QFileInfo::exists(QString::fromLocal8Bit(device.c_str())) ? COM_ERR_CANNOT_OPEN
                                                                         : COM_ERR_NO_PORT;
    kxsim::Sensor* s = kxsim::FindInMemory(device);
    if (!s || s->lineClosed(NowMs()))
        return COM_ERR_NO_PORT;  // the device has gone

    p = Port{};
    p.open = true;
    p.device = device;
    const int bits =
        1 + (dataBits >= 5 && dataBits <= 8 ? dataBits : 8) + (parity > 0 ? 1 : 0) + (stopBits == 2 ? 2 : 1);
    p.byteMs = baudRate > 0 ? bits * 1000.0 / static_cast<double>(baudRate) : 0.0;
    return 0;
}

int CloseCom(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    *p = Port{};
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    p->timeoutMs = static_cast<int>(std::clamp(timeoutSeconds, 0.0, 86400.0) * 1000.0 + 0.5);
    return 0;
}

int SetCTSMode(int port, int /*mode*/) {
    return OpenPort(port) ? 0 : FailCode(port);
}

int FlushInQ(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    Poll(*p);
    p->in.clear();
    return 0;
}

int FlushOutQ(int port) {
    // Written bytes are on the wire when the write returns: nothing waits.
    return OpenPort(port) ? 0 : FailCode(port);
}

int InstallComCallback(int port, int eventMask, int notifyCount, int /*eventCharacter*/,
                       ComCallbackPtr callback, void* callbackData) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    const bool active = callback && (eventMask & COM_EVT_RXCOUNT) && notifyCount > 0;
    p->callback = active ? callback : nullptr;
    p->callbackData = callbackData;
    p->notifyCount = notifyCount;
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    Poll(*p);
    if (p->dead)
        return COM_ERR_IO;
    if (count == 0)
        return 0;
    kxsim::Sensor* s = LiveSensor(*p);
    if (!s || !s->lineWrite(reinterpret_cast<const std::uint8_t*>(buffer), static_cast<std::size_t>(count),
                            NowMs())) {
        p->dead = true;
        return COM_ERR_IO;
    }
    orv_mem::AdvanceTo(NowMs() + count * p->byteMs);
    return count;
}

int ComRd(int port, char* buffer, int count) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    if (count == 0)
        return 0;
    const double deadline = NowMs() + p->timeoutMs;
    const auto want = static_cast<std::size_t>(count);
    for (;;) {
        Poll(*p);
        if (p->dead || p->in.size() >= want)
            break;
        kxsim::Sensor* s = kxsim::FindInMemory(p->device);
        const double next = s ? s->lineNextMs(NowMs()) : orv_mem::kNever;
        if (next > deadline) {
            orv_mem::AdvanceTo(deadline);
            Poll(*p);
            break;
        }
        orv_mem::AdvanceTo(next);
    }
    const std::size_t got = p->closedUnder ? 0 : std::min(want, p->in.size());
    std::copy_n(p->in.begin(), got, buffer);
    p->in.erase(p->in.begin(), p->in.begin() + static_cast<long>(got));
    if (got == 0)
        return p->dead ? COM_ERR_IO : 0;
    return static_cast<int>(got);
}

int GetInQLen(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    Poll(*p);
    return p->closedUnder ? 0 : static_cast<int>(std::min<std::size_t>(p->in.size(), 0x7FFFFFFF));
}
