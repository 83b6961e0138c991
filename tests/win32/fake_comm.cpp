#include "fake_comm.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <thread>

namespace fake_comm {

namespace {

std::map<std::string, Port> gPorts;
DWORD gLastError = 0;

BOOL Fail(DWORD error) {
    gLastError = error;
    return FALSE;
}

Port* Of(HANDLE h) {
    for (auto& [name, port] : gPorts)
        if (static_cast<void*>(&port) == h)
            return port.open ? &port : nullptr;
    return nullptr;
}

// Moves the bytes whose time has come into the input.
void Deliver(Port& p, double nowMs) {
    while (!p.coming.empty() && p.coming.front().first <= nowMs) {
        p.input.push_back(p.coming.front().second);
        p.coming.pop_front();
    }
}

void SleepUntil(double ms) {
    const double left = ms - NowMs();
    if (left > 0)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(left));
}

bool Gone(const Port& p) {
    return p.gone && !p.goneOnlyForStatus;
}

}  // namespace

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

Port& At(const std::string& name) {
    return gPorts[name];
}

void Reset() {
    gPorts.clear();
}

void Arrive(const std::string& name, const std::vector<std::uint8_t>& bytes, double afterMs) {
    Port& p = At(name);
    const double at = NowMs() + afterMs;
    for (std::uint8_t b : bytes)
        p.coming.emplace_back(at, b);
    std::stable_sort(p.coming.begin(), p.coming.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

}  // namespace fake_comm

using namespace fake_comm;

HANDLE CreateFileA(const char* name, DWORD, DWORD shareMode, void*, DWORD, DWORD, HANDLE) {
    std::string n = name;
    if (n.rfind("\\\\.\\", 0) == 0)
        n = n.substr(4);
    auto it = gPorts.find(n);
    if (it == gPorts.end() || !it->second.present || it->second.gone) {
        gLastError = ERROR_FILE_NOT_FOUND;
        return INVALID_HANDLE_VALUE;
    }
    Port& p = it->second;
    if (p.heldElsewhere || p.open) {
        gLastError = ERROR_ACCESS_DENIED;  // a communications port has one opener
        return INVALID_HANDLE_VALUE;
    }
    p.open = true;
    ++p.opens;
    p.openedAs = name;
    p.shareMode = shareMode;
    p.input.clear();
    return &p;
}

BOOL CloseHandle(HANDLE h) {
    Port* p = Of(h);
    if (!p)
        return Fail(6);
    p->open = false;
    return TRUE;
}

DWORD GetFileType(HANDLE h) {
    Port* p = Of(h);
    return p && p->serial ? FILE_TYPE_CHAR : FILE_TYPE_DISK;
}

DWORD GetLastError() {
    return gLastError;
}

DWORD FormatMessageA(DWORD, const void*, DWORD, DWORD, char*, DWORD, void*) {
    return 0;  // no text: the face says "system error N"
}

DWORD QueryDosDeviceA(const char* name, char* target, DWORD size) {
    auto it = gPorts.find(name);
    if (it == gPorts.end() || !it->second.listed || size < 16) {
        gLastError = ERROR_FILE_NOT_FOUND;
        return 0;
    }
    std::strcpy(target, "\\Device\\Serial0");
    return 16;
}

BOOL GetCommState(HANDLE h, DCB* dcb) {
    Port* p = Of(h);
    if (!p || !p->serial)
        return Fail(1);
    *dcb = p->dcb;
    return TRUE;
}

BOOL SetCommState(HANDLE h, DCB* dcb) {
    Port* p = Of(h);
    if (!p || Gone(*p))
        return Fail(p ? p->goneError : 6);
    p->dcb = *dcb;
    return TRUE;
}

BOOL SetupComm(HANDLE h, DWORD, DWORD) {
    return Of(h) ? TRUE : Fail(6);
}

BOOL SetCommTimeouts(HANDLE h, COMMTIMEOUTS* t) {
    Port* p = Of(h);
    if (!p || Gone(*p))
        return Fail(p ? p->goneError : 6);
    p->timeouts = *t;
    return TRUE;
}

BOOL ReadFile(HANDLE h, void* buffer, DWORD count, DWORD* got, void*) {
    *got = 0;
    Port* p = Of(h);
    if (!p)
        return Fail(6);
    if (Gone(*p))
        return Fail(p->goneError);
    const COMMTIMEOUTS t = p->timeouts;
    const double start = NowMs();
    const bool atOnce = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                        t.ReadTotalTimeoutConstant == 0;
    const bool firstByte = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD &&
                           t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXDWORD;
    if (!atOnce && !firstByte)
        return Fail(87);  // only the two ways the face reads are simulated
    Deliver(*p, start);
    if (firstByte && p->input.empty()) {
        const double until = start + t.ReadTotalTimeoutConstant;
        const bool comes = !p->gone && !p->coming.empty() && p->coming.front().first <= until;
        SleepUntil(comes ? p->coming.front().first : until);
        Deliver(*p, NowMs());
    }
    const DWORD n = std::min<DWORD>(count, static_cast<DWORD>(p->input.size()));
    std::copy_n(p->input.begin(), n, static_cast<std::uint8_t*>(buffer));
    p->input.erase(p->input.begin(), p->input.begin() + n);
    *got = n;
    p->reads.push_back({t, count, n, NowMs() - start});
    return TRUE;
}

BOOL WriteFile(HANDLE h, const void* buffer, DWORD count, DWORD* wrote, void*) {
    *wrote = 0;
    Port* p = Of(h);
    if (!p)
        return Fail(6);
    if (p->gone)
        return Fail(p->goneError);
    const DWORD n = p->writeTakes < 0 ? count : std::min<DWORD>(count, static_cast<DWORD>(p->writeTakes));
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    p->written.insert(p->written.end(), bytes, bytes + n);
    if (n < count)
        SleepUntil(NowMs() + p->timeouts.WriteTotalTimeoutConstant);
    *wrote = n;
    return TRUE;
}

BOOL ClearCommError(HANDLE h, DWORD* errors, COMSTAT* status) {
    Port* p = Of(h);
    if (!p)
        return Fail(6);
    if (p->gone)
        return Fail(p->goneError);
    Deliver(*p, NowMs());
    *errors = p->lineErrors;
    p->lineErrors = 0;
    *status = COMSTAT{0, static_cast<DWORD>(p->input.size()), 0};
    return TRUE;
}

BOOL PurgeComm(HANDLE h, DWORD flags) {
    Port* p = Of(h);
    if (!p)
        return Fail(6);
    p->purges.push_back(flags);
    if (flags & PURGE_RXCLEAR)
        p->input.clear();
    return TRUE;
}
