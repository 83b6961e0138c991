// The serial services of rtcore.h on the line model (see line.h): the same
// code for every runtime; the face underneath moves the bytes.
#include "runtime/line/line.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <utility>

#include "runtime/core/core_internal.h"
#include "runtime/line/linelog.h"
#include "runtime/rtcore.h"

namespace orv_line {

namespace {

// How long a delivery waits for the port's callback to return before trying again.
constexpr int kRetryMs = 50;
constexpr std::size_t kNoBound = std::numeric_limits<std::size_t>::max();

std::array<Port, MAX_COM_PORTS + 1> gPorts;
std::array<std::array<char, MAX_PATHNAME_LEN>, MAX_COM_PORTS + 1> gDeviceNames{};
// What each port number showed at the last note: its device and whether connected.
std::array<std::pair<std::string, bool>, MAX_COM_PORTS + 1> gShown{};
void (*gPortListHook)() = nullptr;

bool ValidPort(int port) {
    return port >= 1 && port <= MAX_COM_PORTS;
}

Port& At(int port) {
    return gPorts[static_cast<std::size_t>(port)];
}

Port* OpenPort(int port) {
    if (!ValidPort(port))
        return nullptr;
    Port& p = At(port);
    return p.open ? &p : nullptr;
}

int FailCode(int port) {
    return ValidPort(port) ? COM_ERR_NOT_OPEN : COM_ERR_INVALID_PORT;
}

// A port closed or opened afresh: nothing of the last opening is left but a
// callback that may still be running.
void Reset(Port& p) {
    const bool inCallback = p.inCallback;
    p = Port{};
    p.inCallback = inCallback;
}

std::string Hex(const char* data, std::size_t n) {
    std::string out(n * 3, ' ');
    for (std::size_t i = 0; i < n; ++i)
        std::snprintf(&out[i * 3], 4, "%02X ", static_cast<unsigned char>(data[i]));
    out.resize(n ? n * 3 - 1 : 0);
    return out;
}

// " (got of count bytes...)" for a transfer that came short.
std::string Short(std::size_t got, int count, const char* why) {
    return " (" + std::to_string(got) + " of " + std::to_string(count) + " bytes" + why + ")";
}

// Why the last open of each port failed ("" after a good open).
std::array<std::string, MAX_COM_PORTS + 1> openFailures;

int OpenFailure(int port, const std::string& device, int code, const std::string& why) {
    Note(port, "open " + device + " failed: " + why);
    if (ValidPort(port))
        openFailures[static_cast<std::size_t>(port)] = why;
    return code;
}

// A device named by a path relative to the directory the program was started
// in (the project directory): "runs/tty". A bare name is taken from there
// when that directory holds it, and is otherwise the system's device name
// (ttyUSB0 for /dev/ttyUSB0, COM5).
std::string FromStartDirectory(const std::string& device) {
    if (device.empty() || device.front() == '/' || std::filesystem::path(device).is_absolute())
        return device;
    std::array<char, MAX_PATHNAME_LEN> dir{};
    if (GetProjectDir(dir.data()) < 0 || dir[0] == '\0')
        return device;
    const std::string path = std::string(dir.data()) + '/' + device;
    std::error_code ec;
    if (device.find('/') != std::string::npos || std::filesystem::exists(path, ec))
        return path;
    return device;
}

bool RxActive(const Port& p) {
    return p.callback && (p.eventMask & COM_EVT_RXCOUNT) && p.notifyCount > 0;
}

// Whether the receive notification would be delivered now.
bool WouldNotify(const Port& p) {
    return p.open && !p.dead && !p.inCallback && RxActive(p) &&
           p.in.size() >= static_cast<std::size_t>(p.notifyCount);
}

void PostCheck(int port) {
    At(port).checkPosted = true;
    face::Wake(0);
}

// Room in the receive queue.
std::size_t Room(const Port& p) {
    if (p.settings.inputQueueSize <= 0)
        return kNoBound;
    const auto bound = static_cast<std::size_t>(p.settings.inputQueueSize);
    return bound > p.in.size() ? bound - p.in.size() : 0;
}

// Takes what has arrived into the receive queue.
void Fetch(int port, std::size_t room) {
    Port& p = At(port);
    if (!p.open || p.closedUnder)
        return;
    face::Fetch(port, p.in, room);
    if (WouldNotify(p))
        PostCheck(port);
}

// Calls the port's callback with `event`, marked as running.
void Deliver(int port, int event) {
    Port& p = At(port);
    p.inCallback = true;
    p.callback(port, event, p.callbackData);
    At(port).inCallback = false;
}

void RunCheck(int port) {
    Port& p = At(port);
    p.checkPosted = false;
    if (!WouldNotify(p))
        return;
    Deliver(port, COM_EVT_RXCOUNT);
    // The callback may have read, closed or reopened the port: look again.
    if (WouldNotify(p))
        PostCheck(port);
}

void RunClose(int port) {
    Port& p = At(port);
    p.closePending = false;
    if (!p.open || !p.dead || p.closedUnder)
        return;
    p.closedUnder = true;
    p.in.clear();
    face::Close(port);
}

void RunReopened(int port) {
    Port& p = At(port);
    if (!p.open || p.dead) {
        p.reopenedPending = false;
        return;
    }
    if (p.inCallback) {
        face::Wake(kRetryMs);  // never nested in the port's own callback: once it has returned
        return;
    }
    p.reopenedPending = false;
    if (p.callback && (p.eventMask & COM_EVT_REOPENED))
        Deliver(port, COM_EVT_REOPENED);
    if (WouldNotify(p))
        PostCheck(port);
}

}  // namespace

const Port& State(int port) {
    return At(port);
}

void Arrived(int port) {
    const Port& p = At(port);
    if (p.open && !p.dead)
        Fetch(port, Room(p));
}

void Lost(int port, const std::string& why) {
    Port& p = At(port);
    if (p.dead || !p.open)
        return;
    p.dead = true;
    Note(port, "device lost: " + why);
    face::Lost(port);
    // Closing here could pull the device out from under the face's own
    // notification; it is closed once control is back in the event processing.
    p.closePending = true;
    face::Wake(0);
}

bool Reopen(int port, const std::string& device, bool quiet) {
    Port& p = At(port);
    if (!p.open || !p.dead || p.inCallback)
        return false;
    face::Close(port);  // what is left of the lost opening goes first
    std::string why;
    if (const int r = face::Open(port, device, p.settings, &why); r < 0) {
        if (!quiet)
            OpenFailure(port, device, r, why);
        return false;
    }
    p.dead = p.closedUnder = p.closePending = p.checkPosted = false;
    p.in.clear();
    p.device = device;
    Note(port, "reopened " + device);
    face::Opened(port, device);
    p.reopenedPending = true;
    face::Wake(0);
    return true;
}

bool Due() {
    for (const Port& p : gPorts)
        if (p.closePending || (p.checkPosted && WouldNotify(p)) || (p.reopenedPending && !p.inCallback))
            return true;
    return false;
}

void RunDue() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        const Port& p = At(port);
        if (p.closePending)
            RunClose(port);
        if (p.reopenedPending)
            RunReopened(port);
        if (p.checkPosted && !p.inCallback)
            RunCheck(port);
    }
}

bool NoteShown() {
    bool changed = false;
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        std::pair<std::string, bool> now{face::Device(port), face::Present(port)};
        auto& was = gShown[static_cast<std::size_t>(port)];
        if (now != was) {
            changed = true;
            was = std::move(now);
        }
    }
    return changed;
}

void Note(const std::string& line) {
    if (face::LogOn())
        face::Log(line);
}

void Note(int port, const std::string& text) {
    RecordEvent(port, text);
    if (face::LogOn())
        face::Log("COM" + std::to_string(port) + ' ' + text);
}

std::string EnvDevice(int port) {
    const std::string name = "ORVANSCOPE_COM" + std::to_string(port);
    const char* value = std::getenv(name.c_str());
    return value ? FromStartDirectory(value) : std::string();
}

}  // namespace orv_line

using namespace orv_line;

void orv_rt::SetPortListHook(void (*hook)()) {
    gPortListHook = hook;
}

const char* ComPortDevice(int port) {
    if (!ValidPort(port))
        return "";
    auto& slot = gDeviceNames[static_cast<std::size_t>(port)];
    const std::string dev = face::Device(port);
    const std::size_t n = std::min(dev.size(), slot.size() - 1);
    std::memcpy(slot.data(), dev.data(), n);
    slot[n] = '\0';
    return slot.data();
}

int ComPortPresent(int port) {
    return ValidPort(port) && face::Present(port) ? 1 : 0;
}

int RefreshComPorts() {
    face::Rescan();
    const bool changed = NoteShown();
    if (changed && gPortListHook)
        gPortListHook();
    return changed ? 1 : 0;
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int /*outputQueueSize: the faces' output queues grow as needed*/) {
    if (!ValidPort(port))
        return OpenFailure(port, {}, COM_ERR_INVALID_PORT, "invalid port number");
    Port& p = At(port);
    if (p.open)
        CloseCom(port);

    std::string device, identity, why;
    if (deviceName && *deviceName) {
        device = deviceName;
    } else if (const int r = face::Find(port, &device, &identity, &why); r < 0) {
        return OpenFailure(port, device, r, why);
    }
    if (device.empty())
        return OpenFailure(port, device, COM_ERR_NO_PORT, "no device for this port number");

    const Settings settings{baudRate, parity, dataBits, stopBits, inputQueueSize, false};
    if (const int r = face::Open(port, device, settings, &why); r < 0)
        return OpenFailure(port, device, r, why);
    Reset(p);
    p.open = true;
    p.device = device;
    p.identity = identity;
    p.settings = settings;
    openFailures[static_cast<std::size_t>(port)].clear();
    Note(port, "open " + device + ' ' + std::to_string(baudRate) + " baud");
    face::Opened(port, device);
    return 0;
}

int CloseCom(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    face::Close(port);
    Reset(*p);
    Note(port, "closed");
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    // At most a day: keeps the millisecond count well inside an int.
    p->timeoutMs = static_cast<int>(std::clamp(timeoutSeconds, 0.0, 86400.0) * 1000.0 + 0.5);
    return 0;
}

int SetCTSMode(int port, int mode) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    p->settings.handshake = mode != 0;
    if (!p->dead)
        face::SetHandshake(port, mode != 0);
    return 0;
}

int FlushInQ(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    Fetch(port, kNoBound);  // what has arrived by now goes too
    p->in.clear();
    if (!p->closedUnder)
        face::Flush(port, true);
    return 0;
}

int FlushOutQ(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (!p->closedUnder)
        face::Flush(port, false);
    return 0;
}

int InstallComCallback(int port, int eventMask, int notifyCount, int /*eventCharacter*/,
                       ComCallbackPtr callback, void* callbackData) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    const bool wanted = callback && (eventMask & (COM_EVT_RXCOUNT | COM_EVT_REOPENED));
    p->callback = wanted ? callback : nullptr;
    p->callbackData = callbackData;
    p->eventMask = eventMask;
    p->notifyCount = notifyCount;
    if (WouldNotify(*p))
        PostCheck(port);
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    Fetch(port, Room(*p));  // a line that has gone shows here
    if (p->dead) {
        Note(port, "tx failed: device lost");
        return COM_ERR_IO;
    }
    if (count == 0)
        return 0;
    std::string why;
    const int written = face::Write(port, buffer, count, face::NowMs() + p->timeoutMs, &why);
    if (written < 0) {
        Note(port, "tx failed: " + why);
        return COM_ERR_IO;
    }
    // Whole frames are written to the log by the program with what they are
    // (the request's number); the runtime notes only what went wrong.
    if (written < count)
        Note(port, "tx " + Hex(buffer, static_cast<std::size_t>(written)) +
                       Short(static_cast<std::size_t>(written), count, ""));
    if (written == 0 && p->dead)
        return COM_ERR_IO;
    return written;
}

int ComRd(int port, char* buffer, int count) {
    face::Blocking();
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    if (count == 0)
        return 0;
    const double deadline = face::NowMs() + p->timeoutMs;
    const auto want = static_cast<std::size_t>(count);
    for (bool more = true;;) {
        Fetch(port, std::max(Room(*p), want - std::min(want, p->in.size())));
        if (p->dead || p->in.size() >= want || !more || face::NowMs() >= deadline)
            break;
        more = face::Wait(port, deadline);
    }
    const std::size_t got = p->closedUnder ? 0 : std::min(want, p->in.size());
    std::copy_n(p->in.begin(), got, buffer);
    p->in.erase(p->in.begin(), p->in.begin() + static_cast<long>(got));
    // What came is written to the log by the program, with what it made of
    // it (a reply, noise, ...); the runtime notes only a line that has gone.
    if (p->dead && got < want)
        Note(port,
             "rx " + (got ? Hex(buffer, got) : std::string("nothing")) + Short(got, count, ", device lost"));
    if (got == 0)
        return p->dead ? COM_ERR_IO : 0;
    return static_cast<int>(got);
}

int GetInQLen(int port) {
    Port* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    Fetch(port, Room(*p));
    if (p->closedUnder)
        return 0;
    const auto n = static_cast<long long>(p->in.size()) + face::Pending(port);
    return static_cast<int>(std::min<long long>(n, std::numeric_limits<int>::max()));
}

void LineLogVerdict(int port, int verdict, const char* bytes, int count, unsigned request) {
    RecordFrame(port, verdict, bytes, count, request);
    if (!face::LogOn())
        return;
    std::string what = std::string(Direction(verdict)) + ' ' + VerdictText(verdict, count, request);
    const int shown = bytes != nullptr ? std::clamp(count, 0, 36) : 0;
    if (shown > 0)
        what += ": " + Hex(bytes, static_cast<std::size_t>(shown)) + (shown < count ? " ..." : "");
    face::Log("COM" + std::to_string(port) + ' ' + what);
}

const char* ComOpenFailureReason(int port) {
    return ValidPort(port) ? openFailures[static_cast<std::size_t>(port)].c_str() : "";
}
