// The line log kept in memory: the newest entries of what the line model
// writes to its log (line.cpp: LineLogVerdict, Note), kept whether or not the
// log itself is switched on, for a window that shows them. Each entry is a
// frame (or a run of bytes) with what the program made of it, or an event of
// the line (opened, closed, lost, a failed transfer). Toolkit-free.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv_line {

// Entries kept: the newest this many (about five minutes of a live scope).
constexpr std::size_t kLogKept = 16384;
// Bytes kept of an entry; a longer run of noise keeps its first ones.
constexpr int kLogBytes = 36;
// The verdict of an entry that is an event of the line, not bytes.
constexpr int kLineEvent = 0;

struct LineEntry {
    std::uint64_t index = 0;  // running number, from 1
    std::int64_t wallMs = 0;  // when it was written: ms since the epoch
    int port = 0;
    int verdict = kLineEvent;  // LINE_... of rtcore.h, or kLineEvent
    unsigned request = 0;      // the request concerned (0: none)
    int count = 0;             // bytes concerned (more than are kept, for long noise)
    int kept = 0;              // bytes kept in `bytes`
    std::array<std::uint8_t, kLogBytes> bytes{};
    std::string text;  // an event's text
};

// Called where the line model writes its log.
void RecordFrame(int port, int verdict, const char* bytes, int count, unsigned request);
void RecordEvent(int port, const std::string& text);

// Entries written so far (the newest has this index); an entry that has left
// the ring is no longer there: false.
std::uint64_t LogTotal();
bool LogEntry(std::uint64_t index, LineEntry* out);
void ClearLog();  // tests

// What the program made of the entry, e.g. "reply to #12", "noise, 7 bytes
// dropped"; an event's text.
std::string VerdictText(int verdict, int count, unsigned request);
// "tx", "rx", or "" for an event.
const char* Direction(int verdict);

// A whole frame: the sync word, the order word and 16 data words, big-endian.
struct FrameWords {
    bool whole = false;  // 36 bytes kept: the words are there
    std::uint16_t sync = 0;
    std::uint16_t order = 0;
    std::array<std::uint16_t, 16> data{};
};
FrameWords Decode(const LineEntry& e);

// The fields of an entry as a window shows them, one string each.
struct EntryText {
    std::string time;   // local time "HH:MM:SS.mmm"
    std::string port;   // "COM1"
    std::string dir;    // "tx", "rx", ""
    std::string what;   // VerdictText, or the event
    std::string sync;   // "0x0055", "" when not a whole frame
    std::string order;  // "8"
    std::string data;   // "512 640 ..." (16 words)
    std::string hex;    // "00 55 00 08 ..." (" ..." when bytes were not kept)
};
EntryText Describe(const LineEntry& e);
// One entry as one line of text (copy, save).
std::string FormatEntry(const LineEntry& e);
// The header line above such lines.
std::string FormatHeader();

// Local time of `wallMs` as "HH:MM:SS.mmm" (also for the status history).
std::string ClockText(std::int64_t wallMs);
std::int64_t WallMs();

}  // namespace orv_line
