// The platform face on Windows: the console control handler, files through
// the Win32 file API, the console (see platform.h). Paths are in the ANSI
// code page, as the C library's own functions take them.
#include <windows.h>  // NOMINMAX, WIN32_LEAN_AND_MEAN: CMakeLists.txt

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "runtime/platform/platform.h"

namespace orv_platform {

namespace {

// How long a closing console waits for the program to finish its exchange;
// the system gives a handler about five seconds.
constexpr DWORD kCloseWaitMs = 4500;

std::atomic<StopHandler> gStopHandler{nullptr};
std::atomic<bool> gEndAtNext{false};
std::atomic<DWORD> gLastEvent{CTRL_C_EVENT};
HANDLE gDone = nullptr;  // set when the program has finished

BOOL WINAPI OnConsoleControl(DWORD type) {
    const StopHandler handler = gStopHandler.load();
    if (gEndAtNext.load() || handler == nullptr)
        return FALSE;  // the default handling ends the process
    gLastEvent = type;
    handler(type == CTRL_C_EVENT ? STOP_INTERRUPT : STOP_TERMINATE);
    // After these the system ends the process as soon as the handler returns.
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(gDone, kCloseWaitMs);
    return TRUE;
}

HANDLE Handle(std::intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

// A name that the system takes for a device wherever it stands ("NUL",
// "COM3.txt", "\\.\pipe\x"): such a file is not opened to find out.
bool DeviceName(const char* path) {
    if (std::strncmp(path, "\\\\.\\", 4) == 0 || std::strncmp(path, "\\\\?\\", 4) == 0)
        return true;
    const char* name = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/' || *p == ':')
            name = p + 1;
    }
    char stem[8] = {};
    std::size_t n = 0;
    while (name[n] != '\0' && name[n] != '.' && n < sizeof stem - 1) {
        stem[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[n])));
        ++n;
    }
    if (name[n] != '\0' && name[n] != '.')
        return false;
    static const char* const kReserved[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* r : kReserved) {
        if (std::strcmp(stem, r) == 0)
            return true;
    }
    return n == 4 && (std::strncmp(stem, "COM", 3) == 0 || std::strncmp(stem, "LPT", 3) == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

}  // namespace

void WatchStopRequests(StopHandler handler) {
    if (gDone == nullptr)
        gDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    gStopHandler = handler;
    gEndAtNext = false;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void EndAtNextStopRequest() {
    gEndAtNext = true;
}

void StopRequestDone() {
    if (gDone != nullptr)
        SetEvent(gDone);
}

const char* StopRequestName(int request) {
    if (request == STOP_INTERRUPT)
        return "Ctrl+C";
    switch (gLastEvent.load()) {
        case CTRL_CLOSE_EVENT:
            return "closing the console";
        case CTRL_LOGOFF_EVENT:
            return "logging off";
        case CTRL_SHUTDOWN_EVENT:
            return "shutting down";
        default:
            return "Ctrl+Break";
    }
}

FileReader::~FileReader() {
    if (handle_ != -1)
        CloseHandle(Handle(handle_));
}

int FileReader::Open(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (DeviceName(path) ||
        (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)))
        return OPEN_NOT_REGULAR;
    const HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return OPEN_FAILED;
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return GetFileType(h) == FILE_TYPE_DISK ? 0 : OPEN_NOT_REGULAR;
}

long long FileReader::Read(char* to, std::size_t size) {
    if (handle_ == -1)
        return -1;
    DWORD got = 0;
    const DWORD ask = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    return ReadFile(Handle(handle_), to, ask, &got, nullptr) ? static_cast<long long>(got) : -1;
}

bool WriteBesideAndRename(const std::string& path, const char* data, std::size_t size) {
    static unsigned counter = 0;
    std::string temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = path + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = true;
    while (ok && size > 0) {
        DWORD wrote = 0;
        const DWORD chunk = size > 0x100000u ? 0x100000u : static_cast<DWORD>(size);
        ok = WriteFile(h, data, chunk, &wrote, nullptr) && wrote > 0;
        data += wrote;
        size -= wrote;
    }
    ok = FlushFileBuffers(h) && ok;
    ok = CloseHandle(h) && ok;
    if (ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temp.c_str());
    return false;
}

void RawStandardStreams() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool ErrorIsTerminal() {
    const HANDLE h = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (h == nullptr || h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void LocalTimeOfDay(char* out, std::size_t size) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    std::snprintf(out, size, "%02u:%02u:%02u.%03u", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
}

// The system opens a communications port for one program at a time and
// knows which devices are ports: nothing to add.
std::string NotASerialDevice(const std::string&, bool* missing) {
    *missing = false;
    return "";
}

std::string TakeSerialDevice(std::intptr_t) {
    return "";
}

long DriverPending(std::intptr_t) {
    return 0;
}

bool DeviceCanReturn(const std::string&) {
    return true;
}

bool PathExists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int ReadSettingFile(const std::string&) {
    return -1;
}

bool WriteSettingFile(const std::string&, const char*) {
    return false;
}

bool SetLowLatency(std::intptr_t) {
    return false;
}

}  // namespace orv_platform
