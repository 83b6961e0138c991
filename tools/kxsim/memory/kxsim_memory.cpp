#include "kxsim_memory.h"

#include <limits>
#include <vector>

#include "kxsim.h"
#include "runtime/memory/line_peers.h"

namespace kxsim {

void ConnectMemoryRuntime() {
    orv_mem::LinePeers peers;
    peers.write = [](const std::string& device, const std::uint8_t* data, std::size_t n, double atMs) {
        Sensor* s = FindInMemory(device);
        return s && s->lineWrite(data, n, atMs);
    };
    peers.read = [](const std::string& device, double nowMs) {
        Sensor* s = FindInMemory(device);
        return s ? s->lineRead(nowMs) : std::vector<std::uint8_t>{};
    };
    peers.nextMs = [](const std::string& device, double nowMs) {
        Sensor* s = FindInMemory(device);
        return s ? s->lineNextMs(nowMs) : std::numeric_limits<double>::infinity();
    };
    peers.closed = [](const std::string& device, double nowMs) {
        Sensor* s = FindInMemory(device);
        return !s || s->lineClosed(nowMs);
    };
    orv_mem::SetLinePeers(peers);
    SetMemoryClock([] { return orv_mem::ClockMs(); }, [] { orv_mem::ClockStep(); });
}

}  // namespace kxsim
