// The line log kept in memory (see linelog.h): a ring of the newest entries,
// filled where the line model writes its log, and the texts a window shows.
#include "runtime/line/linelog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "runtime/rtcore.h"

namespace orv_line {

namespace {

struct Ring {
    std::vector<LineEntry> entries;  // kLogKept once the first entry came
    std::uint64_t total = 0;
};

Ring& R() {
    static Ring r;
    return r;
}

LineEntry& Next() {
    Ring& r = R();
    if (r.entries.empty())
        r.entries.resize(kLogKept);
    const std::uint64_t index = ++r.total;
    LineEntry& e = r.entries[static_cast<std::size_t>(index % kLogKept)];
    e = LineEntry{};
    e.index = index;
    e.wallMs = WallMs();
    return e;
}

std::string Hex(const LineEntry& e) {
    std::string out;
    out.reserve(static_cast<std::size_t>(e.kept) * 3 + 4);
    char b[8];
    for (int i = 0; i < e.kept; ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", e.bytes[static_cast<std::size_t>(i)]);
        out += b;
    }
    if (e.count > e.kept)
        out += " ...";
    return out;
}

}  // namespace

std::int64_t WallMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

void RecordFrame(int port, int verdict, const char* bytes, int count, unsigned request) {
    LineEntry& e = Next();
    e.port = port;
    e.verdict = verdict;
    e.request = request;
    e.count = std::max(count, 0);
    e.kept = bytes ? std::min(e.count, kLogBytes) : 0;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(bytes), e.kept, e.bytes.begin());
}

void RecordEvent(int port, const std::string& text) {
    LineEntry& e = Next();
    e.port = port;
    e.text = text;
}

std::uint64_t LogTotal() {
    return R().total;
}

bool LogEntry(std::uint64_t index, LineEntry* out) {
    const Ring& r = R();
    if (index == 0 || index > r.total || r.total - index >= kLogKept)
        return false;
    *out = r.entries[static_cast<std::size_t>(index % kLogKept)];
    return true;
}

void ClearLog() {
    R() = Ring{};
}

std::string VerdictText(int verdict, int count, unsigned request) {
    const std::string req = std::to_string(request), n = std::to_string(count);
    switch (verdict) {
        case LINE_REPLY:
            return "reply to #" + req;
        case LINE_NOTIFIED:
            return "taken by the notification";
        case LINE_LATE:
            return "late reply to #" + req + ", dropped";
        case LINE_NOISE:
            return "noise, " + n + " bytes dropped";
        case LINE_AMBIGUOUS:
            return "no whole frames, " + n + " bytes dropped";
        case LINE_CUT:
            return "frame cut short, " + n + " bytes dropped";
        case LINE_REQUEST:
            return "request #" + req;
        default:
            return "verdict " + std::to_string(verdict);
    }
}

const char* Direction(int verdict) {
    if (verdict == kLineEvent)
        return "";
    return verdict == LINE_REQUEST ? "tx" : "rx";
}

FrameWords Decode(const LineEntry& e) {
    FrameWords w;
    if (e.verdict == kLineEvent || e.count != kLogBytes || e.kept != kLogBytes)
        return w;
    auto word = [&e](int i) {
        const auto at = static_cast<std::size_t>(2 * i);
        return static_cast<std::uint16_t>(e.bytes[at] << 8 | e.bytes[at + 1]);
    };
    w.whole = true;
    w.sync = word(0);
    w.order = word(1);
    for (int k = 0; k < 16; ++k)
        w.data[static_cast<std::size_t>(k)] = word(k + 2);
    return w;
}

std::string ClockText(std::int64_t wallMs) {
    const std::time_t secs = static_cast<std::time_t>(wallMs / 1000);
    const std::tm* local = std::localtime(&secs);
    char buf[32] = "--:--:--";
    if (local)
        std::strftime(buf, sizeof buf, "%H:%M:%S", local);
    char out[48];
    std::snprintf(out, sizeof out, "%s.%03d", buf, static_cast<int>(wallMs % 1000));
    return out;
}

EntryText Describe(const LineEntry& e) {
    EntryText t;
    t.time = ClockText(e.wallMs);
    t.port = e.port > 0 ? "COM" + std::to_string(e.port) : std::string();
    t.dir = Direction(e.verdict);
    if (e.verdict == kLineEvent) {
        t.what = e.text;
        return t;
    }
    t.what = VerdictText(e.verdict, e.count, e.request);
    if (const FrameWords w = Decode(e); w.whole) {
        char sync[8];
        std::snprintf(sync, sizeof sync, "0x%04X", w.sync);
        t.sync = sync;
        t.order = std::to_string(w.order);
        for (std::uint16_t d : w.data)
            t.data += (t.data.empty() ? "" : " ") + std::to_string(d);
    }
    t.hex = Hex(e);
    return t;
}

std::string FormatHeader() {
    return "time\tport\tdir\twhat\tsync\torder\tdata words\tbytes";
}

std::string FormatEntry(const LineEntry& e) {
    const EntryText t = Describe(e);
    return t.time + '\t' + t.port + '\t' + t.dir + '\t' + t.what + '\t' + t.sync + '\t' + t.order + '\t' +
           t.data + '\t' + t.hex;
}

}  // namespace orv_line
