// Simulated sensor: pty handling, framing, pacing and the firmware's answers.
#include "kxsim.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace kxsim {

namespace {

constexpr std::uint16_t kAck = 170;
constexpr int kWaveSteps = 32;  // measurements from the low to the high end of the sweep

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1.0e6;
}

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

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

int Clamp10(int v) {
    return std::clamp(v, 0, 1023);
}

bool LoadBlock(const std::string& path, Block& out, std::string* error) {
    std::ifstream in(path);
    if (!in) {
        if (errno == ENOENT)
            return true;  // no file yet: keep the defaults
        if (error)
            *error = Errno(("cannot read " + path).c_str());
        return false;
    }
    Block b{};
    for (int k = 0; k < kWords; ++k) {
        long long v = -1;
        if (!(in >> v) || v < 0 || v > 65535) {
            if (error)
                *error = path + ": word " + std::to_string(k) + " missing or not 0..65535";
            return false;
        }
        b[static_cast<std::size_t>(k)] = static_cast<std::uint16_t>(v);
    }
    out = b;
    return true;
}

constexpr double kNever = std::numeric_limits<double>::infinity();

// The clock and pump of in-memory sensors, installed by a test runtime.
struct MemoryClock {
    std::mutex mu;
    std::function<double()> nowMs;
    std::function<void()> pump;
    std::thread::id owner;  // the thread that installed them: the runtime's
};

MemoryClock& MemClock() {
    static MemoryClock c;
    return c;
}

// The running in-memory sensors by name; names are never reused.
struct Registry {
    std::mutex mu;
    std::map<std::string, Sensor*> sensors;
    unsigned next = 1;
};

Registry& Sensors() {
    static Registry r;
    return r;
}

}  // namespace

void SetMemoryClock(std::function<double()> nowMs, std::function<void()> pump) {
    MemoryClock& c = MemClock();
    std::lock_guard<std::mutex> guard(c.mu);
    c.nowMs = std::move(nowMs);
    c.pump = std::move(pump);
    c.owner = std::this_thread::get_id();
}

Sensor* FindInMemory(const std::string& device) {
    Registry& r = Sensors();
    std::lock_guard<std::mutex> guard(r.mu);
    auto it = r.sensors.find(device);
    return it == r.sensors.end() ? nullptr : it->second;
}

Frame MakeFrame(std::uint16_t sync, std::uint16_t order, const Block& words) {
    Frame f{};
    f[0] = static_cast<std::uint8_t>(sync >> 8);
    f[1] = static_cast<std::uint8_t>(sync & 0xFF);
    f[2] = static_cast<std::uint8_t>(order >> 8);
    f[3] = static_cast<std::uint8_t>(order & 0xFF);
    for (std::size_t k = 0; k < kWords; ++k) {
        f[4 + 2 * k] = static_cast<std::uint8_t>(words[k] >> 8);
        f[5 + 2 * k] = static_cast<std::uint8_t>(words[k] & 0xFF);
    }
    return f;
}

std::uint16_t FrameWord(const Frame& f, int index) {
    const std::size_t at = static_cast<std::size_t>(4 + 2 * index);  // -1 -> 2, -2 -> 0
    return static_cast<std::uint16_t>((f[at] << 8) | f[at + 1]);
}

// One write to the program's end: bytes that go out together at `atMs`.
struct Sensor::Write {
    double atMs;
    std::vector<std::uint8_t> bytes;
    bool gathering;   // a latency-timer burst that still takes bytes due by `atMs`
    int repliesDone;  // replies whose last byte is in this write
};

// What the run loop still has to write, in order.
struct Sensor::Outbox {
    std::deque<Write> writes;
    std::deque<std::vector<std::uint8_t>> logged;  // whole replies for the hex log, until sent
    double lastDueMs = -1e300;                     // when the newest reply is due in full
    double lastPieceMs = -1e300;                   // line time of the newest piece
};

Sensor::Sensor() : Sensor(Options{}) {}

Sensor::Sensor(Options options)
    : opts_(std::move(options)),
      rng_(opts_.seed ? opts_.seed : 1u),
      out_(std::make_unique<Outbox>()),
      syncCount_(opts_.replySyncWord) {
    // The grid's phase is a hash of the seed, kept apart from the garbage
    // generator so switching the adapter on never changes the garbage.
    std::uint32_t h = opts_.seed * 0x9E3779B9u;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    usbPhase_ = static_cast<double>(h) / 4294967296.0;
}

Sensor::~Sensor() {
    stop();
}

bool Sensor::start(std::string* error) {
    std::lock_guard<std::mutex> guard(mu_);
    if (running_) {
        if (error)
            *error = "already running";
        return false;
    }
    if (!opts_.eepromFile.empty() && !LoadBlock(opts_.eepromFile, eeprom_, error))
        return false;
    *out_ = Outbox{};
    partial_.clear();
    hangupPending_ = false;
    hangupAtMs_ = -1;
    lastOutMs_ = -1e300;
    wire_.clear();

    if (opts_.inMemory) {
        // No device and no thread: the test runtime drives the line.
        Registry& r = Sensors();
        {
            std::lock_guard<std::mutex> registryGuard(r.mu);
            device_ = "mem:" + std::to_string(r.next++);
            r.sensors[device_] = this;
        }
        hungUp_ = false;
        running_ = true;
        startMs_ = nowLocked();
        lastByteMs_ = startMs_;
        return true;
    }

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
    startMs_ = NowMs();
    thread_ = std::thread([this] { run(); });
    return true;
}

void Sensor::stop() {
    if (opts_.inMemory) {
        {
            Registry& r = Sensors();
            std::lock_guard<std::mutex> registryGuard(r.mu);
            auto it = r.sensors.find(device_);
            if (it != r.sensors.end() && it->second == this)
                r.sensors.erase(it);
        }
        std::lock_guard<std::mutex> guard(mu_);
        running_ = false;
        wire_.clear();
        cv_.notify_all();
        return;
    }
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

std::string Sensor::devicePath() const {
    std::lock_guard<std::mutex> guard(mu_);
    return device_;
}

bool Sensor::running() const {
    catchUp();
    std::lock_guard<std::mutex> guard(mu_);
    return running_ && !hungUp_;
}

bool Sensor::hungUp() const {
    catchUp();
    std::lock_guard<std::mutex> guard(mu_);
    return hungUp_;
}

void Sensor::setSilent(bool on) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.silent = on;
}
void Sensor::setDelayMs(int ms) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.delayMs = std::max(0, ms);
}
void Sensor::setShortBytes(int n) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.shortBytes = n;
}
void Sensor::setGarbage(int n, bool before) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.garbage = std::max(0, n);
    opts_.faults.garbageBefore = before;
}
void Sensor::setEchoWord(int word) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.echoWord = word;
}
void Sensor::setFlashFault(const FlashFault& fault) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.flash = fault;
}
void Sensor::setHangupAfter(int frames) {
    catchUp();  // in memory: what happened before the switch happened without it
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.hangupAfter = frames;
    if (opts_.inMemory && running_)
        tickLocked(nowLocked());
}
void Sensor::setFast(bool on) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.fast = on;
}
void Sensor::setTrickle(int bytes) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.trickleBytes = std::max(0, bytes);
}
void Sensor::setUsbLatency(int ms) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.usbLatencyMs = std::max(0, ms);
}
void Sensor::setReplySync(ReplySync mode, std::uint16_t word) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.replySync = mode;
    opts_.replySyncWord = word;
    syncCount_ = word;
}
void Sensor::setFlashReplyOrder(int order) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.flashReplyOrder = order;
}
void Sensor::setTeachReply(bool on) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.teachReply = on;
}
void Sensor::setStrayBefore(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.strayBefore = bytes;
}
void Sensor::setLate(const LateReply& late) {
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults.late = late;
}
void Sensor::setFaults(const Faults& faults) {
    catchUp();
    std::lock_guard<std::mutex> guard(mu_);
    opts_.faults = faults;
    if (opts_.inMemory && running_)
        tickLocked(nowLocked());
}
Faults Sensor::faults() const {
    std::lock_guard<std::mutex> guard(mu_);
    return opts_.faults;
}

bool Sensor::inject(const std::vector<std::uint8_t>& bytes) {
    logFrame("inject", bytes.data(), bytes.size());
    if (!opts_.inMemory)
        return writeAll(bytes.data(), bytes.size());
    std::lock_guard<std::mutex> guard(mu_);
    if (running_)
        advanceLocked(nowLocked());
    if (!running_ || hungUp_)
        return false;
    wire_.insert(wire_.end(), bytes.begin(), bytes.end());
    return true;
}

std::vector<Frame> Sensor::received() const {
    std::lock_guard<std::mutex> guard(mu_);
    return received_;
}
std::vector<double> Sensor::arrivalsMs() const {
    std::lock_guard<std::mutex> guard(mu_);
    return arrivals_;
}
std::size_t Sensor::framesReceived() const {
    std::lock_guard<std::mutex> guard(mu_);
    return framesTotal_;
}
std::size_t Sensor::repliesSent() const {
    catchUp();
    std::lock_guard<std::mutex> guard(mu_);
    return replies_;
}
std::size_t Sensor::bytesDiscarded() const {
    catchUp();
    std::lock_guard<std::mutex> guard(mu_);
    return discarded_;
}
bool Sensor::waitForFrames(std::size_t n, int timeoutMs) const {
    if (opts_.inMemory)
        return waitInMemory([&] { return framesTotal_ >= n; }, timeoutMs);
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return framesTotal_ >= n; });
}
bool Sensor::waitForReplies(std::size_t n, int timeoutMs) const {
    if (opts_.inMemory)
        return waitInMemory([&] { return replies_ >= n; }, timeoutMs);
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return replies_ >= n; });
}

Block Sensor::ram() const {
    std::lock_guard<std::mutex> guard(mu_);
    return ram_;
}
Block Sensor::eeprom() const {
    std::lock_guard<std::mutex> guard(mu_);
    return eeprom_;
}
void Sensor::setRam(const Block& b) {
    std::lock_guard<std::mutex> guard(mu_);
    ram_ = b;
}
std::uint16_t Sensor::measuredValue() const {
    std::lock_guard<std::mutex> guard(mu_);
    return measured_;
}
Page Sensor::flashPage(int page) const {
    std::lock_guard<std::mutex> guard(mu_);
    if (page < 0 || page >= kPages)
        return Page{};
    return flash_[static_cast<std::size_t>(page)];
}

bool Sensor::dumpFlash(const std::string& path) const {
    std::ostringstream out;
    for (int p = 4; p < kPages; ++p)
        for (std::uint16_t w : flashPage(p))
            out << w << '\n';
    std::ofstream f(path, std::ios::trunc);
    f << out.str();
    f.close();
    return static_cast<bool>(f);
}

void Sensor::logFrame(const char* dir, const std::uint8_t* data, std::size_t n) const {
    if (!opts_.logHex)
        return;
    std::string line = "kxsim ";
    line += dir;
    char hex[4];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", data[i]);
        line += hex;
    }
    line += '\n';
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
}

bool Sensor::writeAll(const std::uint8_t* data, std::size_t n) {
    std::lock_guard<std::mutex> guard(writeMu_);
    const double deadline = NowMs() + 1000.0;
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
        const double left = deadline - NowMs();
        if (left <= 0)
            return false;  // the program does not read: drop the rest
        pollfd p{master_, POLLOUT, 0};
        const timespec ts = MsToTimespec(std::min(left, 50.0));
        ppoll(&p, 1, &ts, nullptr);
    }
    return true;
}

void Sensor::saveEeprom() {
    // Called with mu_ held. Written beside the file and renamed over it so a
    // failed write never leaves a truncated EEPROM image.
    if (opts_.eepromFile.empty())
        return;
    const std::string tmp = opts_.eepromFile + ".tmp";
    {
        std::ofstream out(tmp, std::ios::trunc);
        for (std::uint16_t w : eeprom_)
            out << w << '\n';
        out.close();
        if (!out) {
            std::fprintf(stderr, "kxsim: cannot write %s\n", tmp.c_str());
            std::remove(tmp.c_str());
            return;
        }
    }
    if (std::rename(tmp.c_str(), opts_.eepromFile.c_str()) != 0) {
        std::fprintf(stderr, "kxsim: cannot replace %s: %s\n", opts_.eepromFile.c_str(),
                     std::strerror(errno));
        std::remove(tmp.c_str());
    }
}

std::uint16_t Sensor::nextMeasurement() {
    // Triangle sweep from reference - 2*tolerance to reference + 2*tolerance
    // (clamped to the 10-bit scale), one step per measurement, so the value
    // crosses the reference and leaves the tolerance window on both sides.
    const int ref = Clamp10(ram_[2]);
    const int tol = std::min<int>(ram_[3], 1023);
    const int lo = Clamp10(ref - 2 * tol);
    const int hi = Clamp10(ref + 2 * tol);
    const int k = wavePos_ % (2 * kWaveSteps);
    const int up = k <= kWaveSteps ? k : 2 * kWaveSteps - k;
    wavePos_ = (wavePos_ + 1) % (2 * kWaveSteps);
    measured_ = static_cast<std::uint16_t>(lo + (hi - lo) * up / kWaveSteps);
    return measured_;
}

void Sensor::handleFrame(const Frame& f, Outbox& out, double arrivalMs) {
    // Called with mu_ held.
    const std::uint16_t sync = FrameWord(f, -2);
    const std::uint16_t order = FrameWord(f, -1);
    Block in{};
    for (int k = 0; k < kWords; ++k)
        in[static_cast<std::size_t>(k)] = FrameWord(f, k);

    const Faults& fl = opts_.faults;
    if (fl.silent)
        return;

    bool reply = false;
    int lateMs = 0;  // a flash reply made late on purpose
    Block words{};
    switch (order) {
        case 1:
            ram_ = in;
            break;
        case 3:
            eeprom_ = in;
            saveEeprom();
            break;
        case 2:
            words = ram_;
            reply = true;
            break;
        case 4:
            words = eeprom_;
            reply = true;
            break;
        case 6:
            ram_[2] = measured_;
            if (opts_.teachReply) {
                words = ram_;
                reply = true;
            }
            break;
        case 7:
            words = in;
            words[0] = fl.echoWord >= 0 ? static_cast<std::uint16_t>(fl.echoWord) : kAck;
            reply = true;
            break;
        case 8: {
            words = ram_;
            const std::uint16_t v = nextMeasurement();
            // Two receiver channels whose balance gives the value.
            words[0] = v;
            words[1] = static_cast<std::uint16_t>(Clamp10(256 + v / 2));
            words[2] = static_cast<std::uint16_t>(Clamp10(767 - v / 2));
            reply = true;
            break;
        }
        case 20: {
            const int addr = in[1];
            std::uint16_t word = kAck;
            if (fl.flash.enabled && !fl.flash.data &&
                addr == kFlashBase + kPageWords * fl.flash.page + kWords * fl.flash.block) {
                if (fl.flash.lateMs > 0)
                    lateMs = fl.flash.lateMs;
                else
                    word = fl.flash.word;
            }
            flashAddress_ = word == kAck ? addr : -1;
            words[0] = word;
            reply = true;
            break;
        }
        case 21: {
            const int addr = flashAddress_;
            flashAddress_ = -1;  // one data block per announced address
            std::uint16_t word = 0;
            if (addr >= kFlashBase && addr + kWords <= kFlashBase + kPages * kPageWords)
                word = (addr - kFlashBase) % kPageWords == 0 ? 1 : 2;
            if (addr >= 0 && fl.flash.enabled && fl.flash.data &&
                addr == kFlashBase + kPageWords * fl.flash.page + kWords * fl.flash.block) {
                if (fl.flash.lateMs > 0)
                    lateMs = fl.flash.lateMs;
                else
                    word = fl.flash.word;
            }
            if ((word == 1 || word == 2) && addr >= kFlashBase &&
                addr + kWords <= kFlashBase + kPages * kPageWords) {
                const int off = addr - kFlashBase;
                for (int k = 0; k < kWords; ++k)
                    flash_[static_cast<std::size_t>((off + k) / kPageWords)]
                          [static_cast<std::size_t>((off + k) % kPageWords)] =
                              in[static_cast<std::size_t>(k)];
            }
            words[0] = word;
            reply = true;
            break;
        }
        default:
            break;
    }
    if (!reply)
        return;

    Faults& faults = opts_.faults;
    if (faults.late.count > 0 && (faults.late.order == 0 || faults.late.order == order)) {
        --faults.late.count;
        lateMs = std::max(lateMs, faults.late.ms);
    }
    std::uint16_t replySync = sync;
    if (opts_.replySync == ReplySync::Fixed)
        replySync = opts_.replySyncWord;
    else if (opts_.replySync == ReplySync::Count)
        replySync = syncCount_++;
    std::uint16_t replyOrder = order;
    if ((order == 20 || order == 21) && opts_.flashReplyOrder >= 0)
        replyOrder = static_cast<std::uint16_t>(opts_.flashReplyOrder);
    const Frame r = MakeFrame(replySync, replyOrder, words);
    std::vector<std::uint8_t> bytes = std::move(faults.strayBefore);
    faults.strayBefore.clear();
    if (fl.garbage > 0) {
        for (int i = 0; i < fl.garbage; ++i) {
            rng_ ^= rng_ << 13;
            rng_ ^= rng_ >> 17;
            rng_ ^= rng_ << 5;
            bytes.push_back(static_cast<std::uint8_t>(0x80 | (rng_ & 0x7F)));
        }
    }
    if (fl.garbage == 0 || fl.garbageBefore) {
        std::size_t n = kFrameBytes;
        if (fl.shortBytes >= 0 && fl.shortBytes < kFrameBytes)
            n = static_cast<std::size_t>(fl.shortBytes);
        bytes.insert(bytes.end(), r.begin(), r.begin() + static_cast<std::ptrdiff_t>(n));
    }
    schedule(out, std::move(bytes), arrivalMs + lateMs);
}

void Sensor::schedule(Outbox& out, std::vector<std::uint8_t> bytes, double arrivalMs) {
    // Called with mu_ held. The reply is due in full (its last byte) when the
    // line allows it: after its request and its own transfer, or one frame
    // time after the reply before it.
    // The request needs its own time on the wire before any sensor has it;
    // pacing adds the reply's. Answering fast, the reply takes no time.
    const double pace = opts_.fast ? 0.0 : kFrameWireMs;
    const double due = std::max(arrivalMs + kFrameWireMs + pace + opts_.faults.delayMs, out.lastDueMs + pace);
    out.lastDueMs = due;
    if (opts_.logHex)
        out.logged.push_back(bytes);

    const std::size_t n = bytes.size();
    const bool trickle = opts_.trickleBytes > 0;
    const std::size_t piece =
        trickle ? static_cast<std::size_t>(opts_.trickleBytes) : std::max<std::size_t>(n, 1);
    // Paced, each piece goes out as many byte times before the due time as
    // bytes follow it. Answering at once, pieces follow each other 1 ms apart
    // so they still reach the program as separate reads.
    const double minGap = trickle && opts_.fast ? kFastPieceGapMs : 0.0;
    std::size_t begin = 0;
    int k = 0;
    do {
        const std::size_t end = std::min(n, begin + piece);
        double at = minGap > 0 ? due + k * minGap : due - static_cast<double>(n - end) * kByteWireMs;
        // A piece never overtakes the one before it, even when a long reply
        // (garbage) would have had to start before the line was free.
        at = std::max(at, out.lastPieceMs + minGap);
        out.lastPieceMs = at;
        addPiece(out, at, bytes.data() + begin, end - begin, end == n);
        begin = end;
        ++k;
    } while (begin < n);
}

void Sensor::addPiece(Outbox& out, double atMs, const std::uint8_t* data, std::size_t n, bool lastOfReply) {
    // Called with mu_ held.
    const int latency = opts_.usbLatencyMs;
    if (latency <= 0 || n == 0) {
        out.writes.push_back(
            Write{atMs, std::vector<std::uint8_t>(data, data + n), false, lastOfReply ? 1 : 0});
        return;
    }
    // The adapter holds the bytes until the next tick of its latency timer, or
    // until a packet is full, which it then sends at once.
    const double period = latency;
    const double base = startMs_ + usbPhase_ * period;
    const double tick = base + std::ceil((atMs - base) / period) * period;
    std::size_t done = 0;
    while (done < n) {
        if (out.writes.empty() || !out.writes.back().gathering || out.writes.back().atMs != tick)
            out.writes.push_back(Write{tick, {}, true, 0});
        Write& w = out.writes.back();
        const std::size_t take = std::min(n - done, kUsbPacketBytes - w.bytes.size());
        w.bytes.insert(w.bytes.end(), data + done, data + done + take);
        done += take;
        if (w.bytes.size() == kUsbPacketBytes) {
            w.atMs = atMs;
            w.gathering = false;
        }
    }
    if (lastOfReply)
        ++out.writes.back().repliesDone;
}

void Sensor::feedLocked(const std::uint8_t* data, std::size_t n, double atMs) {
    // Bytes of a torn frame followed by a long enough pause are dropped: the
    // sensor resynchronises on the next bytes.
    if (!partial_.empty() && atMs - lastByteMs_ >= kResyncGapMs) {
        discarded_ += partial_.size();
        partial_.clear();
    }
    lastByteMs_ = atMs;
    for (std::size_t i = 0; i < n; ++i) {
        partial_.push_back(data[i]);
        if (partial_.size() < kFrameBytes)
            continue;
        Frame f{};
        std::copy(partial_.begin(), partial_.end(), f.begin());
        partial_.clear();
        logFrame("rx", f.data(), f.size());
        if (hangupPending_)
            continue;  // the line is about to close: ignore
        received_.push_back(f);
        arrivals_.push_back(atMs);
        ++framesTotal_;
        // A sensor serving for days keeps only the newest part of its log.
        if (opts_.logLimit > 0 && received_.size() >= 2 * opts_.logLimit) {
            const auto drop = static_cast<long>(received_.size() - opts_.logLimit);
            received_.erase(received_.begin(), received_.begin() + drop);
            arrivals_.erase(arrivals_.begin(), arrivals_.begin() + drop);
        }
        handleFrame(f, *out_, atMs);
        const int after = opts_.faults.hangupAfter;
        if (after >= 0 && framesTotal_ >= static_cast<std::size_t>(after)) {
            hangupPending_ = true;
            hangupSinceMs_ = atMs;
        }
    }
    cv_.notify_all();
}

bool Sensor::tickLocked(double nowMs) {
    // The time-driven part of the line: a hang-up asked for (also after the
    // fact, by a switch), the line closing once the last reply is out, and a
    // torn frame dropped after the resync gap. True when the line closes now.
    const int after = opts_.faults.hangupAfter;
    if (!hangupPending_ && after >= 0 && framesTotal_ >= static_cast<std::size_t>(after)) {
        hangupPending_ = true;
        hangupSinceMs_ = nowMs;
    }
    if (hangupPending_ && out_->writes.empty() && hangupAtMs_ < 0)
        hangupAtMs_ = std::max(hangupSinceMs_, lastOutMs_) + kHangupGraceMs;
    if (!partial_.empty() && nowMs - lastByteMs_ >= kResyncGapMs) {
        discarded_ += partial_.size();
        partial_.clear();
    }
    return hangupAtMs_ >= 0 && nowMs >= hangupAtMs_;
}

void Sensor::wentOutLocked(int repliesDone, double atMs) {
    lastOutMs_ = atMs;
    if (repliesDone <= 0)
        return;
    // The hex log shows whole replies, once their last byte is out.
    for (int i = 0; i < repliesDone && !out_->logged.empty(); ++i) {
        logFrame("tx", out_->logged.front().data(), out_->logged.front().size());
        out_->logged.pop_front();
    }
    replies_ += static_cast<std::size_t>(repliesDone);
    cv_.notify_all();
}

double Sensor::nextEventLocked() const {
    double next = kNever;
    if (!out_->writes.empty())
        next = out_->writes.front().atMs;
    if (hangupAtMs_ >= 0)
        next = std::min(next, hangupAtMs_);
    if (!partial_.empty())
        next = std::min(next, lastByteMs_ + kResyncGapMs);
    return next;
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
                if (out_->writes.empty() || out_->writes.front().atMs > NowMs())
                    break;
                w = std::move(out_->writes.front());
                out_->writes.pop_front();
            }
            if (!w.bytes.empty())
                writeAll(w.bytes.data(), w.bytes.size());
            std::lock_guard<std::mutex> guard(mu_);
            wentOutLocked(w.repliesDone, NowMs());
        }
        double wait = 0;
        {
            std::lock_guard<std::mutex> guard(mu_);
            const double now = NowMs();
            if (tickLocked(now)) {
                closeFds();
                hungUp_ = true;
                cv_.notify_all();
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
        feedLocked(buf, static_cast<std::size_t>(n), NowMs());
    }
}

// ---------------------------------------------------------------------------
// In memory
// ---------------------------------------------------------------------------

double Sensor::nowLocked() {
    if (!opts_.inMemory)
        return NowMs();
    MemoryClock& c = MemClock();
    std::function<double()> clock;
    {
        std::lock_guard<std::mutex> guard(c.mu);
        // Only the runtime's own thread reads its clock; elsewhere the
        // sensor's time is where the runtime last left it.
        if (c.owner == std::this_thread::get_id())
            clock = c.nowMs;
    }
    if (clock)
        memNowMs_ = std::max(memNowMs_, clock());
    return memNowMs_;
}

void Sensor::advanceLocked(double t) {
    // Runs the sensor's time up to `t`, event by event in time order, as the
    // thread does on a pty: the bytes of due writes reach the program's end.
    memNowMs_ = std::max(memNowMs_, t);
    while (running_ && !hungUp_) {
        const double at = std::min(nextEventLocked(), t);
        while (!out_->writes.empty() && out_->writes.front().atMs <= at) {
            Write w = std::move(out_->writes.front());
            out_->writes.pop_front();
            wire_.insert(wire_.end(), w.bytes.begin(), w.bytes.end());
            wentOutLocked(w.repliesDone, w.atMs);
        }
        if (tickLocked(at)) {
            hungUp_ = true;
            cv_.notify_all();
            break;
        }
        if (at >= t && nextEventLocked() > t)
            break;
    }
}

void Sensor::catchUp() const {
    if (!opts_.inMemory)
        return;
    // What happened by now on the clock is decided already; bringing the
    // state up to it changes nothing a caller could have seen otherwise.
    auto* self = const_cast<Sensor*>(this);
    std::lock_guard<std::mutex> guard(mu_);
    if (running_)
        self->advanceLocked(self->nowLocked());
}

bool Sensor::waitInMemory(const std::function<bool()>& done, int timeoutMs) const {
    auto* self = const_cast<Sensor*>(this);
    std::function<void()> pump;
    bool clocked = false;
    bool elsewhere = false;
    {
        MemoryClock& c = MemClock();
        std::lock_guard<std::mutex> guard(c.mu);
        pump = c.pump;
        clocked = static_cast<bool>(c.nowMs);
        elsewhere = clocked && c.owner != std::this_thread::get_id();
    }
    if (elsewhere) {
        // Another thread than the runtime's must not run its events: it
        // waits in real time for what the runtime's thread brings about.
        std::unique_lock<std::mutex> lock(mu_);
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
    }
    if (!clocked)
        pump = nullptr;  // a pump that moves another clock cannot help
    double deadline = 0;
    {
        std::lock_guard<std::mutex> guard(mu_);
        const double now = self->nowLocked();
        if (running_)
            self->advanceLocked(now);
        if (done())
            return true;
        deadline = now + std::max(0, timeoutMs);
    }
    // Steps of the runtime that run events without moving its clock; a
    // runtime that never moves it again would otherwise hold the wait forever.
    constexpr int kMaxStill = 1000000;
    for (int still = 0;;) {
        double before = 0;
        {
            std::lock_guard<std::mutex> guard(mu_);
            before = self->nowLocked();
        }
        if (pump)
            pump();  // never with the lock held: the runtime calls back in
        std::lock_guard<std::mutex> guard(mu_);
        double now = self->nowLocked();
        if (!pump) {
            // No outside clock: the sensor's own time runs on.
            self->memNowMs_ = std::min(deadline, before + 10.0);
            now = self->memNowMs_;
        } else if (now <= before && ++still > kMaxStill) {
            return done();
        }
        if (running_)
            self->advanceLocked(now);
        if (done())
            return true;
        if (now >= deadline)
            return false;
    }
}

bool Sensor::lineWrite(const std::uint8_t* data, std::size_t n, double atMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!opts_.inMemory || !running_)
        return false;
    advanceLocked(atMs);
    if (hungUp_)
        return false;
    feedLocked(data, n, memNowMs_);
    return true;
}

std::vector<std::uint8_t> Sensor::lineRead(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!opts_.inMemory || !running_)
        return {};
    advanceLocked(nowMs);
    std::vector<std::uint8_t> out(wire_.begin(), wire_.end());
    wire_.clear();
    return out;
}

double Sensor::lineNextMs(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!opts_.inMemory || !running_)
        return kNever;
    advanceLocked(nowMs);
    if (hungUp_)
        return kNever;
    double next = out_->writes.empty() ? kNever : out_->writes.front().atMs;
    if (hangupAtMs_ >= 0)
        next = std::min(next, hangupAtMs_);
    return next;
}

bool Sensor::lineClosed(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (running_ && opts_.inMemory)
        advanceLocked(nowMs);
    return !running_ || hungUp_;
}

}  // namespace kxsim
