// The serial line's face on the Win32 communications API, for Windows without
// the toolkit (see line.h for what the model above it keeps).
//
// Port n is COMn; a device may also be named "COM12" or "\\.\COM12". It is
// opened for this program alone (the system refuses a second opener) and set
// to the line settings given, without handshake unless asked. Bytes move
// through ReadFile and WriteFile on a plain handle, with the time-outs set
// for each call (SetCommTimeouts):
// - Fetch reads what has arrived and returns at once;
// - Wait reads one byte, returning as soon as one is there or when the time
//   left has passed, and holds it for the next Fetch;
// - Write returns once the driver has taken the bytes or its time-out passed.
// A failed call means that the device has gone (a USB adapter pulled): the
// line is lost, and the port is opened again once its device can be opened.
// The event processing looks for bytes every 10 ms while a port is open, so
// the receive notification works on any engine.
#include <windows.h>  // NOMINMAX, WIN32_LEAN_AND_MEAN: CMakeLists.txt

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <string>

#include "runtime/core/core_internal.h"
#include "runtime/core/trace.h"
#include "runtime/line/line.h"

namespace {

using orv_line::State;

constexpr double kPollSeconds = 0.01;   // how often the event processing looks for bytes
constexpr double kReturnSeconds = 0.5;  // how often a lost port's device is looked for
constexpr DWORD kOutputQueue = 4096;

struct Com {
    HANDLE handle = INVALID_HANDLE_VALUE;
    COMMTIMEOUTS timeouts{};  // as last set on the handle
    bool timeoutsSet = false;
    int held = -1;  // a byte that Wait took, for the next Fetch
};

std::array<Com, MAX_COM_PORTS + 1> gCom;
std::array<bool, MAX_COM_PORTS + 1> gReopenFailLogged{};

Com& At(int port) {
    return gCom[static_cast<std::size_t>(port)];
}

bool IsOpen(const Com& c) {
    return c.handle != INVALID_HANDLE_VALUE;
}

std::string ComName(int port) {
    return "COM" + std::to_string(port);
}

// "COM12" -> "\\.\COM12", the name that reaches every port number; any
// other name as given.
std::string SystemPath(const std::string& device) {
    const bool com = device.size() > 3 && std::toupper(static_cast<unsigned char>(device[0])) == 'C' &&
                     std::toupper(static_cast<unsigned char>(device[1])) == 'O' &&
                     std::toupper(static_cast<unsigned char>(device[2])) == 'M' &&
                     device.find_first_not_of("0123456789", 3) == std::string::npos;
    return com ? "\\\\.\\" + device : device;
}

// Whether the system knows a port of that name now.
bool Exists(const std::string& name) {
    char target[512];
    return QueryDosDeviceA(name.c_str(), target, sizeof target) != 0;
}

// The system's reason for a failed call, in the words the other faces use
// where they mean the same.
std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "no such device";
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return "in use by another program";
        default:
            break;
    }
    char text[256] = {};
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                                   0, text, sizeof text, nullptr);
    std::string why(text, n);
    while (!why.empty() &&
           (why.back() == '\n' || why.back() == '\r' || why.back() == ' ' || why.back() == '.'))
        why.pop_back();
    return why.empty() ? "system error " + std::to_string(error) : why;
}

void Gone(int port, DWORD error) {
    orv_line::Lost(port, Reason(error));
}

// Sets the handle's time-outs where they differ from the last ones set.
bool SetTimeouts(Com& c, const COMMTIMEOUTS& t) {
    if (c.timeoutsSet && std::memcmp(&c.timeouts, &t, sizeof t) == 0)
        return true;
    COMMTIMEOUTS copy = t;
    c.timeoutsSet = SetCommTimeouts(c.handle, &copy) != 0;
    c.timeouts = t;
    return c.timeoutsSet;
}

// The read time-outs: `waitMs` 0 returns at once with what is there; else
// returns at the first byte, or after `waitMs` without one.
bool SetReadTimeouts(Com& c, DWORD waitMs) {
    COMMTIMEOUTS t = c.timeouts;
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = waitMs == 0 ? 0 : MAXDWORD;
    t.ReadTotalTimeoutConstant = waitMs;
    return SetTimeouts(c, t);
}

bool SetWriteTimeout(Com& c, DWORD ms) {
    COMMTIMEOUTS t = c.timeouts;
    t.WriteTotalTimeoutMultiplier = 0;
    t.WriteTotalTimeoutConstant = ms;
    return SetTimeouts(c, t);
}

// Whole milliseconds until `deadlineMs`, rounded up, within what a time-out
// may be (MAXDWORD means something else).
DWORD MsLeft(double deadlineMs) {
    const double left = std::ceil(deadlineMs - orv_line::face::NowMs());
    return left <= 0 ? 0 : static_cast<DWORD>(std::min(left, 86400.0e3));
}

void SetLine(DCB& dcb, const orv_line::Settings& s) {
    static constexpr BYTE kParity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    dcb.BaudRate = static_cast<DWORD>(s.baudRate);
    dcb.ByteSize = static_cast<BYTE>(s.dataBits >= 5 && s.dataBits <= 8 ? s.dataBits : 8);
    dcb.Parity = s.parity >= 0 && s.parity <= 4 ? kParity[s.parity] : NOPARITY;
    dcb.StopBits = s.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = dcb.Parity != NOPARITY;
    // No software handshake and no byte replaced or dropped: the frames are binary.
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fTXContinueOnXoff = TRUE;
    // DTR and RTS on, as an opened terminal has them elsewhere; RTS/CTS only on request.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fOutxCtsFlow = s.handshake ? TRUE : FALSE;
    dcb.fRtsControl = s.handshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
}

// The device's own errors on the line, for the log.
void NoteLineErrors(int port, DWORD errors) {
    std::string what;
    if (errors & CE_FRAME)
        what += " framing";
    if (errors & CE_RXPARITY)
        what += " parity";
    if (errors & (CE_OVERRUN | CE_RXOVER))
        what += " overrun";
    if (errors & CE_BREAK)
        what += " break";
    if (!what.empty())
        orv_line::Note(port, "error:" + what);
}

// The bytes waiting in the driver, or -1 when the device has gone.
long InQueue(int port) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(At(port).handle, &errors, &status)) {
        Gone(port, GetLastError());
        return -1;
    }
    NoteLineErrors(port, errors);
    return static_cast<long>(status.cbInQue);
}

// Hands what arrived to the model of every open port that has a receive
// notification; looks again while a port is open.
void PollArrivals(void*) {
    bool any = false;
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        const orv_line::Port& p = State(port);
        if (!p.open)
            continue;
        any = true;
        if (p.callback && !p.dead)
            orv_line::Arrived(port);
    }
    if (any)
        ScheduleCallback(kPollSeconds, PollArrivals, nullptr);
}

bool Awaited(int port) {
    const orv_line::Port& p = State(port);
    return p.open && p.dead;
}

// Opens each lost port again once its device can be opened.
void ReopenReturned() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        const orv_line::Port& p = State(port);
        if (!Awaited(port) || p.inCallback)
            continue;
        bool& logged = gReopenFailLogged[static_cast<std::size_t>(port)];
        if (!orv_line::Reopen(port, p.device, logged))
            logged = true;  // one line in the log per absence, not one per attempt
    }
}

void WatchReturn(void*) {
    ReopenReturned();
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        if (Awaited(port)) {
            ScheduleCallback(kReturnSeconds, WatchReturn, nullptr);
            return;
        }
    }
}

void RunDueNow(void*) {
    orv_line::RunDue();
}

void RunDueLater(void*) {
    orv_line::RunDue();
}

}  // namespace

namespace orv_line::face {

double NowMs() {
    return Timer() * 1000.0;
}

std::string Device(int port) {
    const std::string name = ComName(port);
    return Exists(name) ? name : std::string();
}

bool Present(int port) {
    return Exists(ComName(port));
}

void Rescan() {
    ReopenReturned();
}

int Find(int port, std::string* device, std::string* identity, std::string* /*why*/) {
    // Whether the port is there, the open finds out.
    *device = ComName(port);
    identity->clear();
    return 0;
}

int Open(int port, const std::string& device, const Settings& s, std::string* why) {
    const HANDLE h = CreateFileA(SystemPath(device).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 0 /* this program alone */, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *why = Reason(error);
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? COM_ERR_NO_PORT
                                                                              : COM_ERR_CANNOT_OPEN;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (GetFileType(h) != FILE_TYPE_CHAR || !GetCommState(h, &dcb)) {
        CloseHandle(h);
        *why = "not a serial device";
        return COM_ERR_CANNOT_OPEN;
    }
    SetLine(dcb, s);
    if (!SetCommState(h, &dcb)) {
        *why = "cannot set " + std::to_string(s.baudRate) + " baud: " + Reason(GetLastError());
        CloseHandle(h);
        return COM_ERR_CANNOT_OPEN;
    }
    // The queue sizes are a request; a driver may keep its own.
    SetupComm(h, s.inputQueueSize > 0 ? static_cast<DWORD>(s.inputQueueSize) : kOutputQueue, kOutputQueue);
    Com& c = At(port);
    if (IsOpen(c))
        CloseHandle(c.handle);
    c = Com{};
    c.handle = h;
    if (!SetReadTimeouts(c, 0)) {
        *why = "cannot set the time-outs: " + Reason(GetLastError());
        CloseHandle(h);
        c = Com{};
        return COM_ERR_CANNOT_OPEN;
    }
    return 0;
}

void Opened(int port, const std::string& /*device*/) {
    gReopenFailLogged[static_cast<std::size_t>(port)] = false;
    ScheduleCallback(kPollSeconds, PollArrivals, nullptr);
}

void Close(int port) {
    Com& c = At(port);
    if (IsOpen(c)) {
        // Both queues emptied first: nothing received is left for the next
        // opener, and nothing queued goes out once the program has let go.
        PurgeComm(c.handle, PURGE_RXCLEAR | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_TXABORT);
        CloseHandle(c.handle);
    }
    c = Com{};
}

void SetHandshake(int port, bool on) {
    Com& c = At(port);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!IsOpen(c) || !GetCommState(c.handle, &dcb))
        return;
    dcb.fOutxCtsFlow = on ? TRUE : FALSE;
    dcb.fRtsControl = on ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    if (!SetCommState(c.handle, &dcb))
        orv_line::Note(port, "error: handshake not changed: " + Reason(GetLastError()));
}

void Lost(int port) {
    gReopenFailLogged[static_cast<std::size_t>(port)] = false;
    ScheduleCallback(kReturnSeconds, WatchReturn, nullptr);
}

void Fetch(int port, std::deque<std::uint8_t>& queue, std::size_t room) {
    Com& c = At(port);
    if (!IsOpen(c) || room == 0)
        return;
    if (c.held >= 0) {
        queue.push_back(static_cast<std::uint8_t>(c.held));
        c.held = -1;
        --room;
    }
    if (!SetReadTimeouts(c, 0)) {
        Gone(port, GetLastError());
        return;
    }
    char chunk[1024];
    while (room > 0) {
        const DWORD ask = static_cast<DWORD>(std::min(room, sizeof chunk));
        DWORD got = 0;
        if (!ReadFile(c.handle, chunk, ask, &got, nullptr)) {
            Gone(port, GetLastError());
            return;
        }
        queue.insert(queue.end(), chunk, chunk + got);
        room -= got;
        if (got < ask)
            break;
    }
}

long Pending(int port) {
    const Com& c = At(port);
    if (!IsOpen(c) || State(port).dead)
        return 0;
    const long n = InQueue(port);
    return (n > 0 ? n : 0) + (c.held >= 0 ? 1 : 0);
}

bool Wait(int port, double deadlineMs) {
    Com& c = At(port);
    if (!IsOpen(c))
        return false;
    if (c.held >= 0)
        return true;
    const DWORD left = MsLeft(deadlineMs);
    if (left == 0)
        return false;
    if (!SetReadTimeouts(c, left)) {
        Gone(port, GetLastError());
        return false;
    }
    unsigned char byte = 0;
    DWORD got = 0;
    if (!ReadFile(c.handle, &byte, 1, &got, nullptr)) {
        Gone(port, GetLastError());
        return false;
    }
    if (got == 1) {
        c.held = byte;
        return true;
    }
    // Nothing came: a device that has gone may say so only when asked.
    InQueue(port);
    return false;
}

int Write(int port, const char* data, int count, double deadlineMs, std::string* why) {
    Com& c = At(port);
    if (!IsOpen(c)) {
        *why = "device lost";
        return -1;
    }
    if (!SetWriteTimeout(c, std::max<DWORD>(MsLeft(deadlineMs), 1))) {
        const DWORD error = GetLastError();
        *why = Reason(error);
        Gone(port, error);
        return -1;
    }
    DWORD wrote = 0;
    if (!WriteFile(c.handle, data, static_cast<DWORD>(count), &wrote, nullptr)) {
        const DWORD error = GetLastError();
        *why = Reason(error);
        Gone(port, error);
        return wrote > 0 ? static_cast<int>(wrote) : -1;
    }
    return static_cast<int>(wrote);  // fewer when the time-out passed
}

void Flush(int port, bool input) {
    Com& c = At(port);
    if (!IsOpen(c))
        return;
    if (input)
        c.held = -1;
    PurgeComm(c.handle, input ? PURGE_RXCLEAR | PURGE_RXABORT : PURGE_TXCLEAR | PURGE_TXABORT);
}

void Blocking() {
    orv_rt::BeforeBlocking();  // the read blocks: show what changed first
}

void Wake(int delayMs) {
    if (delayMs > 0)
        ScheduleCallback(delayMs / 1000.0, RunDueLater, nullptr);
    else
        ScheduleCallback(0, RunDueNow, nullptr);
}

bool LogOn() {
    return orv_rt::TraceOn();
}

void Log(const std::string& line) {
    orv_rt::WriteTraceLine(line);
}

}  // namespace orv_line::face
