// The sensor's firmware: what it answers to each order (RAM and EEPROM, teach,
// echo, the measurement sweep, the flash pages), the fault switches and the
// protocol options that shape a reply, and the EEPROM file. A frame is
// answered with the sensor's lock held; the reply goes to the line (line.cpp)
// to be paced.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "kxsim.h"
#include "kxsim_parts.h"

namespace kxsim {

namespace {

constexpr std::uint16_t kAck = 170;
constexpr int kWaveSteps = 32;  // measurements from the low to the high end of the sweep

int Clamp10(int v) {
    return std::clamp(v, 0, 1023);
}

// The flash fault, where it hits the address (`data` false) or data exchange
// of the block at `addr`: the reply keeps its word and comes late, or carries
// the fault's word.
void ApplyFlashFault(const FlashFault& fault, bool data, int addr, std::uint16_t& word, int& lateMs) {
    if (!fault.enabled || fault.data != data ||
        addr != kFlashBase + kPageWords * fault.page + kWords * fault.block)
        return;
    if (fault.lateMs > 0)
        lateMs = fault.lateMs;
    else
        word = fault.word;
}

}  // namespace

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
            ApplyFlashFault(fl.flash, false, addr, word, lateMs);
            flashAddress_ = word == kAck ? addr : -1;
            words[0] = word;
            reply = true;
            break;
        }
        case 21: {
            const int addr = flashAddress_;
            flashAddress_ = -1;  // one data block per announced address
            const bool inFlash = addr >= kFlashBase && addr + kWords <= kFlashBase + kPages * kPageWords;
            std::uint16_t word = 0;
            if (inFlash)
                word = (addr - kFlashBase) % kPageWords == 0 ? 1 : 2;
            ApplyFlashFault(fl.flash, true, addr, word, lateMs);
            if ((word == 1 || word == 2) && inFlash) {
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

}  // namespace kxsim
