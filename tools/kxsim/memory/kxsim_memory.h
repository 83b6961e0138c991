// Connects kxsim's in-memory sensors (Options::inMemory) to the memory
// runtime: a port whose device is a sensor's "mem:N" name reaches that
// sensor, and the sensors wait on the runtime's virtual clock. For the tests
// and fuzz targets that run on the memory runtime; call once before the
// first sensor starts.
#pragma once

namespace kxsim {

void ConnectMemoryRuntime();

}  // namespace kxsim
