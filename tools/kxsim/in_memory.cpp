// The in-memory line (Options::inMemory): no pty and no thread. The sensor
// keeps the time of an outside clock, the test runtime's virtual one, and
// runs its line up to whatever time the runtime asks about; its waits pump
// the runtime's events instead of sleeping.
#include <algorithm>
#include <map>

#include "kxsim.h"
#include "kxsim_parts.h"

namespace kxsim {

namespace {

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

void Sensor::startInMemoryLocked() {
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
}

void Sensor::stopInMemory() {
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
}

double Sensor::nowLocked() {
    if (!opts_.inMemory)
        return SteadyMs();
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
        Write w{};
        while (takeDueLocked(at, w)) {
            wire_.insert(wire_.end(), w.bytes.begin(), w.bytes.end());
            wentOutLocked(w.repliesDone, w.atMs);
        }
        if (closeIfDueLocked(at))
            break;
        if (at >= t && nextEventLocked() > t)
            break;
    }
}

void Sensor::catchUpLocked() {
    if (running_)
        advanceLocked(nowLocked());
}

void Sensor::catchUp() const {
    if (!opts_.inMemory)
        return;
    // What happened by now on the clock is decided already; bringing the
    // state up to it changes nothing a caller could have seen otherwise.
    auto* self = const_cast<Sensor*>(this);
    std::lock_guard<std::mutex> guard(mu_);
    self->catchUpLocked();
}

bool Sensor::injectInMemory(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard<std::mutex> guard(mu_);
    catchUpLocked();
    if (!running_ || hungUp_)
        return false;
    wire_.insert(wire_.end(), bytes.begin(), bytes.end());
    return true;
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
        return waitNotified(done, timeoutMs);
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

bool Sensor::lineUpToLocked(double t) {
    if (!opts_.inMemory || !running_)
        return false;
    advanceLocked(t);
    return true;
}

bool Sensor::lineWrite(const std::uint8_t* data, std::size_t n, double atMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!lineUpToLocked(atMs) || hungUp_)
        return false;
    feedLocked(data, n, memNowMs_);
    return true;
}

std::vector<std::uint8_t> Sensor::lineRead(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!lineUpToLocked(nowMs))
        return {};
    std::vector<std::uint8_t> out(wire_.begin(), wire_.end());
    wire_.clear();
    return out;
}

double Sensor::lineNextMs(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    if (!lineUpToLocked(nowMs) || hungUp_)
        return kNever;
    return nextOutLocked();
}

bool Sensor::lineClosed(double nowMs) {
    std::lock_guard<std::mutex> guard(mu_);
    lineUpToLocked(nowMs);
    return !running_ || hungUp_;
}

}  // namespace kxsim
