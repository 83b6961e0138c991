// The simulated sensor: starting and stopping it on either line, what it has
// received and sent, and the waits for it. The firmware, the line's timing and
// the two lines are in the files kxsim_parts.h lists.
#include "kxsim.h"

#include <chrono>

#include "kxsim_parts.h"

namespace kxsim {

Sensor::Sensor() : Sensor(Options{}) {}

Sensor::Sensor(Options options)
    : opts_(std::move(options)),
      rng_(opts_.seed ? opts_.seed : 1u),
      usbPhase_(UsbPhase(opts_.seed)),
      out_(std::make_unique<Outbox>()),
      syncCount_(opts_.replySyncWord) {}

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

    if (!opts_.inMemory)
        return startPtyLocked(error);
    startInMemoryLocked();
    return true;
}

void Sensor::stop() {
    if (opts_.inMemory)
        stopInMemory();
    else
        stopPty();
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

bool Sensor::inject(const std::vector<std::uint8_t>& bytes) {
    logFrame("inject", bytes.data(), bytes.size());
    if (!opts_.inMemory)
        return writeAll(bytes.data(), bytes.size());
    return injectInMemory(bytes);
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
    auto done = [&] { return framesTotal_ >= n; };
    return opts_.inMemory ? waitInMemory(done, timeoutMs) : waitNotified(done, timeoutMs);
}
bool Sensor::waitForReplies(std::size_t n, int timeoutMs) const {
    auto done = [&] { return replies_ >= n; };
    return opts_.inMemory ? waitInMemory(done, timeoutMs) : waitNotified(done, timeoutMs);
}

bool Sensor::waitNotified(const std::function<bool()>& done, int timeoutMs) const {
    // Whoever runs the line (the pty's thread, or the runtime's on another
    // thread) notifies at every frame received and every reply sent.
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), done);
}

}  // namespace kxsim
