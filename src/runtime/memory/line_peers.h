// The far ends of the memory runtime's serial lines. A port whose device is
// named "mem:<name>" reaches the peer of that name: whatever plays the sensor
// on that line. The runtime knows the peers through these functions alone,
// installed by whoever provides them (the tests connect kxsim's in-memory
// sensors; see tools/kxsim/memory/kxsim_memory.h). Without them no "mem:"
// device is there.
//
// Times are milliseconds on the runtime's virtual clock; they never go back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orv_mem {

struct LinePeers {
    // The program's bytes reaching the peer `device` at `atMs`; false when no
    // peer of that name is there or its line has closed.
    bool (*write)(const std::string& device, const std::uint8_t* data, std::size_t n, double atMs) = nullptr;
    // The bytes that have reached the program's end of the line by `nowMs`,
    // oldest first, each handed over once.
    std::vector<std::uint8_t> (*read)(const std::string& device, double nowMs) = nullptr;
    // When the next bytes reach the program's end, or the line closes; +inf
    // when nothing is on its way.
    double (*nextMs)(const std::string& device, double nowMs) = nullptr;
    // Whether the line is down by `nowMs`: no peer of that name, or it hung up.
    bool (*closed)(const std::string& device, double nowMs) = nullptr;
};

// Installs the peers; every function must be set.
void SetLinePeers(const LinePeers& peers);

// The virtual clock, for a peer that waits on it: the time now, and one step
// of the event processing (which may move the clock on).
double ClockMs();
void ClockStep();

}  // namespace orv_mem
