// The platform face on POSIX systems: signals, file descriptors, terminals and
// locks (see platform.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifdef __linux__
#include <linux/serial.h>
#endif

#include "runtime/platform/platform.h"

namespace orv_platform {

static_assert(STOP_INTERRUPT == SIGINT && STOP_TERMINATE == SIGTERM);

namespace {

std::atomic<StopHandler> gStopHandler{nullptr};

extern "C" void OnStopSignal(int sig) {
    if (const StopHandler handler = gStopHandler.load())
        handler(sig);
}

void SetStopAction(void (*action)(int)) {
    struct sigaction sa {};
    sa.sa_handler = action;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

int Fd(std::intptr_t handle) {
    return static_cast<int>(handle);
}

// Writes all of `data`, retrying where a signal cut a write short.
bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A new file beside `path` that nobody else has: its descriptor, and its name
// in `temp`; -1 when none can be made.
int CreateBeside(const std::string& path, mode_t mode, std::string* temp) {
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        *temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        const int fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

void WatchStopRequests(StopHandler handler) {
    gStopHandler = handler;
    SetStopAction(OnStopSignal);
}

void EndAtNextStopRequest() {
    SetStopAction(SIG_DFL);
}

void StopRequestDone() {}

const char* StopRequestName(int request) {
    return request == STOP_INTERRUPT ? "SIGINT" : "SIGTERM";
}

FileReader::~FileReader() {
    if (handle_ >= 0)
        ::close(Fd(handle_));
}

int FileReader::Open(const char* path) {
    // Look before opening: opening a device can have effects of its own (a
    // terminal, a tape). The descriptor is looked at again after the open in
    // case the name was replaced in between. O_NONBLOCK keeps the open from
    // waiting for a FIFO's writer; it stays set, so a file that only claims
    // to be regular (some /proc entries) cannot block a read.
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode))
        return OPEN_NOT_REGULAR;
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return OPEN_FAILED;
    handle_ = fd;
    if (::fstat(fd, &st) != 0)
        return OPEN_FAILED;
    return S_ISREG(st.st_mode) ? 0 : OPEN_NOT_REGULAR;
}

long long FileReader::Read(char* to, std::size_t size) {
    if (handle_ < 0)
        return -1;
    for (;;) {
        const ssize_t got = ::read(Fd(handle_), to, size);
        if (got >= 0 || errno != EINTR)
            return got;
    }
}

bool WriteBesideAndRename(const std::string& path, const char* data, std::size_t size) {
    // The new file gets the old one's permissions, or those of any new file.
    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0666;
    std::string temp;
    const int fd = CreateBeside(path, mode, &temp);
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data, size) && (st.st_mode == 0 || ::fchmod(fd, mode) == 0) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::rename(temp.c_str(), path.c_str()) == 0)
        return true;
    ::unlink(temp.c_str());
    return false;
}

void RawStandardStreams() {}

bool ErrorIsTerminal() {
    return ::isatty(STDERR_FILENO) != 0;
}

void LocalTimeOfDay(char* out, std::size_t size) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    std::snprintf(out, size, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(ms));
}

std::string NotASerialDevice(const std::string& path, bool* missing) {
    struct stat st {};
    *missing = ::stat(path.c_str(), &st) != 0;
    if (*missing)
        return "no such device";
    return S_ISCHR(st.st_mode) ? "" : "not a character device";
}

std::string TakeSerialDevice(std::intptr_t handle) {
    if (!::isatty(Fd(handle)))
        return "not a terminal";
#ifdef __linux__
    // One program per device. A lock file named after the path as given, and
    // an exclusive mode that does not bind root, are not enough: a lock on
    // the device itself also refuses a second program (or a second copy)
    // that reaches it through another name, a link or /dev/serial/by-id.
    if (::flock(Fd(handle), LOCK_EX | LOCK_NB) != 0)
        return "in use by another program";
#endif
    return "";
}

long DriverPending(std::intptr_t handle) {
    int n = 0;
    return ::ioctl(Fd(handle), FIONREAD, &n) == 0 && n > 0 ? n : 0;
}

bool DeviceCanReturn(const std::string& path) {
#ifdef __linux__
    // A pseudo-terminal named by its own path is gone once closed, and its
    // number goes to the next terminal anyone opens.
    struct stat st {};
    char real[PATH_MAX];
    if (::lstat(path.c_str(), &st) == 0 && !S_ISLNK(st.st_mode) &&
        ::realpath(path.c_str(), real) != nullptr && std::strncmp(real, "/dev/pts/", 9) == 0)
        return false;
#else
    static_cast<void>(path);
#endif
    return true;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

int ReadSettingFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    char text[16] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return -1;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    while (end != nullptr && (*end == '\n' || *end == ' ' || *end == '\t' || *end == '\r'))
        ++end;
    return end != text && end != nullptr && *end == '\0' && value >= 0 && value <= INT_MAX
               ? static_cast<int>(value)
               : -1;
}

bool WriteSettingFile(const std::string& path, const char* text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const bool ok = WriteAll(fd, text, std::strlen(text));
    return ::close(fd) == 0 && ok;
}

bool SetLowLatency(std::intptr_t handle) {
#ifdef __linux__
    serial_struct ss{};
    if (handle < 0 || ::ioctl(Fd(handle), TIOCGSERIAL, &ss) != 0)
        return false;
    if (ss.flags & ASYNC_LOW_LATENCY)
        return true;
    ss.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(Fd(handle), TIOCSSERIAL, &ss) == 0;
#else
    static_cast<void>(handle);
    return false;
#endif
}

}  // namespace orv_platform
