// What the simulated sensor's files share: the writes waiting to go out on the
// line and a few helpers. The sensor is one class (kxsim.h) whose work is
// spread over five files:
//   kxsim.cpp      lifetime (start, stop), the read-outs, the waits
//   firmware.cpp   the answer to each order, the fault switches, the protocol
//                  options and the EEPROM file
//   line.cpp       the line's timing: framing and the resync gap, pacing at
//                  19200 baud, trickle, the USB latency grid, the hang-up
//   pty.cpp        the pseudo-terminal server: the pty, its thread, the link
//   in_memory.cpp  the in-memory line on an outside clock
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "kxsim.h"

namespace kxsim {

constexpr double kNever = std::numeric_limits<double>::infinity();

// One write to the program's end: bytes that go out together at `atMs`.
struct Sensor::Write {
    double atMs;
    std::vector<std::uint8_t> bytes;
    bool gathering;   // a latency-timer burst that still takes bytes due by `atMs`
    int repliesDone;  // replies whose last byte is in this write
};

// What the line still has to write, in order.
struct Sensor::Outbox {
    std::deque<Write> writes;
    std::deque<std::vector<std::uint8_t>> logged;  // whole replies for the hex log, until sent
    double lastDueMs = -1e300;                     // when the newest reply is due in full
    double lastPieceMs = -1e300;                   // line time of the newest piece
};

// The steady clock in ms: the time of a sensor on a pty (pty.cpp).
double SteadyMs();
// "what: <the reason errno gives>".
inline std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}
// The USB latency grid's phase, a fraction of the latency, from the seed
// (line.cpp).
double UsbPhase(std::uint32_t seed);
// Reads a block (16 words, one a line) from `path` into `out`; a missing file
// leaves `out` as it is (firmware.cpp).
bool LoadBlock(const std::string& path, Block& out, std::string* error);

}  // namespace kxsim
