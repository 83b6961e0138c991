// In-memory stand-in for the panel, timing and serial services of the runtime
// layer, so the fuzz targets drive the program's own code fast and without a
// display or a device. Array files stay the real implementation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fake_rt {

// Appends bytes to port `port`'s input queue (what the sensor sent).
void Feed(int port, const uint8_t* data, std::size_t size);
// Bytes waiting in the input queue of `port`.
std::size_t Pending(int port);
// Empties every queue and forgets the panel's values.
void Reset();

}  // namespace fake_rt
