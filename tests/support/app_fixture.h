// Test fixtures that start the program the way its entry does: the real
// runtime (offscreen), the real panel file, and a simulated sensor on a
// pseudo-terminal mapped to port 1. Built for the memory runtime
// (ORV_TEST_MEMORY_RUNTIME), the same fixtures run the program on a virtual
// clock against the simulated sensor in memory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kxsim.h"

namespace orv_test {

// Starts the engine and loads the main panel as start-up does, without
// opening a port or initialising the variables. Returns the panel handle.
int LoadMainPanel();

// A 36-byte frame as the program would send it.
kxsim::Frame Frame(std::uint16_t sync, std::uint16_t order, const kxsim::Block& words);

// Writes a correction source (KXconfig.dat) to `path` whose table entry i is
// 3·i + 1: positions in order, values rising.
void WriteRisingCorrSource(const std::string& path);

// Whether the tests run on the memory runtime.
#ifdef ORV_TEST_MEMORY_RUNTIME
constexpr bool kMemoryRuntime = true;
#else
constexpr bool kMemoryRuntime = false;
#endif

// The sensor's options with the line the tests run against: whole replies, or
// with ORV_TEST_LINE=trickle replies handed over in pieces like a real line;
// with ORV_TEST_SENSOR=foreign a sensor that answers with another sync word
// (kForeignSync), order word 0 in its flash replies and a frame of its own to
// the teach order; in memory on the memory runtime.
kxsim::Options LineOptions(kxsim::Options options);
constexpr std::uint16_t kForeignSync = 0x1234;
bool ForeignSensor();
// The sync word the sensor's replies carry (and the program's requests after them).
std::uint16_t ReplySync();

// The program started against a simulated sensor. SetUp starts the sensor,
// maps port 1 to it and runs the start-up steps (engine, panel, variables,
// port and line check) but not the event loop; TearDown shuts down.
class App : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Override to change the sensor before the program starts.
    virtual kxsim::Options SensorOptions() { return {}; }
    virtual void BeforeStartUp() {}
    // Device that port 1 maps to; empty: the simulated sensor.
    virtual std::string Port1Device() { return {}; }

    int panel() const;
    // Status texts shown since the last call, oldest first.
    std::vector<std::string> Status();
    // Frames the sensor received after the first `skip` ones.
    std::vector<kxsim::Frame> FramesSince(std::size_t skip) const;

    std::unique_ptr<kxsim::Sensor> sensor;
    int startResult = -99;
};

}  // namespace orv_test
