// The line's timing, the same for the pty and the in-memory line: requests
// framed by length and a torn frame dropped after the resync gap, replies
// paced at 19200 baud, trickled in pieces, held on a USB adapter's latency
// grid, and the hang-up. Everything here runs with the sensor's lock held
// (but the setters, which take it); the transports (pty.cpp, in_memory.cpp)
// hand in the bytes that arrive and take out the writes that are due.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kxsim.h"
#include "kxsim_parts.h"

namespace kxsim {

double UsbPhase(std::uint32_t seed) {
    // A hash of the seed, kept apart from the garbage generator so switching
    // the adapter on never changes the garbage.
    std::uint32_t h = seed * 0x9E3779B9u;
    h ^= h >> 16;
    h *= 0x85EBCA6Bu;
    h ^= h >> 13;
    return static_cast<double>(h) / 4294967296.0;
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
    dropTornLocked(atMs);
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
        noteHangupLocked(atMs);
    }
    cv_.notify_all();
}

bool Sensor::tickLocked(double nowMs) {
    // The time-driven part of the line: a hang-up asked for (also after the
    // fact, by a switch), the line closing once the last reply is out, and a
    // torn frame dropped after the resync gap. True when the line closes now.
    noteHangupLocked(nowMs);
    if (hangupPending_ && out_->writes.empty() && hangupAtMs_ < 0)
        hangupAtMs_ = std::max(hangupSinceMs_, lastOutMs_) + kHangupGraceMs;
    dropTornLocked(nowMs);
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

void Sensor::noteHangupLocked(double atMs) {
    // The N-th frame has come: the line closes once the replies are out.
    const int after = opts_.faults.hangupAfter;
    if (!hangupPending_ && after >= 0 && framesTotal_ >= static_cast<std::size_t>(after)) {
        hangupPending_ = true;
        hangupSinceMs_ = atMs;
    }
}

void Sensor::dropTornLocked(double nowMs) {
    // Bytes of a torn frame followed by a long enough pause are dropped: the
    // sensor resynchronises on the next bytes.
    if (!partial_.empty() && nowMs - lastByteMs_ >= kResyncGapMs) {
        discarded_ += partial_.size();
        partial_.clear();
    }
}

// Both lines run the same steps: take each write due by a time and put its
// bytes on their way, then see whether the line closes at that time.
bool Sensor::takeDueLocked(double atMs, Write& w) {
    if (out_->writes.empty() || out_->writes.front().atMs > atMs)
        return false;
    w = std::move(out_->writes.front());
    out_->writes.pop_front();
    return true;
}

bool Sensor::closeIfDueLocked(double nowMs) {
    if (!tickLocked(nowMs))
        return false;
    hungUp_ = true;
    cv_.notify_all();
    return true;
}

// When the next bytes go out or the line closes (what a reader waits for);
// the line's own next event may also be the end of a torn frame's resync gap.
double Sensor::nextOutLocked() const {
    double next = out_->writes.empty() ? kNever : out_->writes.front().atMs;
    if (hangupAtMs_ >= 0)
        next = std::min(next, hangupAtMs_);
    return next;
}

double Sensor::nextEventLocked() const {
    if (partial_.empty())
        return nextOutLocked();
    return std::min(nextOutLocked(), lastByteMs_ + kResyncGapMs);
}

}  // namespace kxsim
