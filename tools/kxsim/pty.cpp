// The pseudo-terminal server: the pty pair and the link to it, the thread that
// reads requests from the master and writes the replies when they are due, on
// the steady clock.
#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "kxsim.h"
#include "kxsim_parts.h"

namespace kxsim {

namespace {

timespec MsToTimespec(double ms) {
    if (ms < 0)
        ms = 0;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ms / 1000.0);
    ts.tv_nsec = static_cast<long>((ms - static_cast<double>(ts.tv_sec) * 1000.0) * 1.0e6);
    if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
    }
    return ts;
}

bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

}  // namespace

double SteadyMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

bool Sensor::startPtyLocked(std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        closeFds();
        return false;
    };

    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        return fail(Errno("posix_openpt"));
    if (grantpt(master_) != 0 || unlockpt(master_) != 0)
        return fail(Errno("grantpt/unlockpt"));
    char name[128] = {};
    if (ptsname_r(master_, name, sizeof name) != 0)
        return fail(Errno("ptsname_r"));
    device_ = name;
    // The sensor keeps the slave open itself so the master never sees a hang-up
    // while the program closes and reopens its end.
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0)
        return fail(Errno("open slave"));
    if (!MakeRaw(slave_) || !MakeRaw(master_))
        return fail(Errno("raw mode"));
    const int fl = fcntl(master_, F_GETFL);
    if (fl < 0 || fcntl(master_, F_SETFL, fl | O_NONBLOCK) != 0)
        return fail(Errno("non-blocking master"));

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(Errno("pipe"));
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    if (!opts_.linkPath.empty()) {
        struct stat st {};
        if (lstat(opts_.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode))
                return fail(opts_.linkPath + " exists and is not a symbolic link");
            unlink(opts_.linkPath.c_str());
        }
        if (symlink(name, opts_.linkPath.c_str()) != 0)
            return fail(Errno(("symlink " + opts_.linkPath).c_str()));
    }

    stopRequested_ = false;
    hungUp_ = false;
    running_ = true;
    startMs_ = SteadyMs();
    thread_ = std::thread([this] { run(); });
    return true;
}

void Sensor::stopPty() {
    {
        std::lock_guard<std::mutex> guard(mu_);
        stopRequested_ = true;
        if (wakeWrite_ >= 0) {
            const char c = 'x';
            [[maybe_unused]] auto n = write(wakeWrite_, &c, 1);
        }
    }
    if (thread_.joinable())
        thread_.join();
    std::lock_guard<std::mutex> guard(mu_);
    closeFds();
    if (wakeRead_ >= 0)
        close(wakeRead_);
    if (wakeWrite_ >= 0)
        close(wakeWrite_);
    wakeRead_ = wakeWrite_ = -1;
    if (!opts_.linkPath.empty() && !device_.empty()) {
        char target[256] = {};
        const ssize_t n = readlink(opts_.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && device_ == std::string(target, static_cast<std::size_t>(n)))
            unlink(opts_.linkPath.c_str());
    }
    running_ = false;
    cv_.notify_all();
}

void Sensor::closeFds() {
    std::lock_guard<std::mutex> guard(writeMu_);
    if (master_ >= 0)
        close(master_);
    if (slave_ >= 0)
        close(slave_);
    master_ = slave_ = -1;
}

bool Sensor::writeAll(const std::uint8_t* data, std::size_t n) {
    std::lock_guard<std::mutex> guard(writeMu_);
    const double deadline = SteadyMs() + 1000.0;
    std::size_t done = 0;
    while (done < n) {
        if (master_ < 0)
            return false;
        const ssize_t w = write(master_, data + done, n - done);
        if (w > 0) {
            done += static_cast<std::size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR)
            continue;
        if (w < 0 && errno != EAGAIN)
            return false;
        const double left = deadline - SteadyMs();
        if (left <= 0)
            return false;  // the program does not read: drop the rest
        pollfd p{master_, POLLOUT, 0};
        const timespec ts = MsToTimespec(std::min(left, 50.0));
        ppoll(&p, 1, &ts, nullptr);
    }
    return true;
}

void Sensor::run() {
    std::uint8_t buf[4096];
    while (!stopRequested_) {
        // The writes that are due, each outside the lock: a write may wait
        // for the program to read.
        for (;;) {
            Write w{};
            {
                std::lock_guard<std::mutex> guard(mu_);
                if (!takeDueLocked(SteadyMs(), w))
                    break;
            }
            if (!w.bytes.empty())
                writeAll(w.bytes.data(), w.bytes.size());
            std::lock_guard<std::mutex> guard(mu_);
            wentOutLocked(w.repliesDone, SteadyMs());
        }
        double wait = 0;
        {
            std::lock_guard<std::mutex> guard(mu_);
            const double now = SteadyMs();
            if (closeIfDueLocked(now)) {
                closeFds();  // both ends: the device disappears
                return;
            }
            wait = std::min(1000.0, nextEventLocked() - now);
        }
        pollfd fds[2] = {{master_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const timespec ts = MsToTimespec(wait);
        const int rc = ppoll(fds, 2, &ts, nullptr);
        if (rc < 0 && errno != EINTR)
            break;
        if (rc <= 0)
            continue;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t n = read(master_, buf, sizeof buf);
        if (n <= 0)
            continue;
        std::lock_guard<std::mutex> guard(mu_);
        feedLocked(buf, static_cast<std::size_t>(n), SteadyMs());
    }
}

}  // namespace kxsim
