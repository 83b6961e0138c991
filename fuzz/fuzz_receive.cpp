// Fuzz target: arbitrary byte streams arriving on the line, in arbitrary
// chunks, through the receive notification, the frame finder, the decoder,
// the live chart and the comparators, and the line check reading a reply
// directly. Every frame taken must begin with a frame header.
//
// Runs on the memory runtime with the real panel: port 1 is a simulated
// sensor in memory that only listens, and the input reaches the program
// through it; waits pass on the virtual clock.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/chart.h"
#include "kxsim.h"
#include "kxsim_memory.h"
#include "runtime/runtime.h"

namespace {

char g_arg0[] = "fuzz_receive";
char* g_argv[] = {g_arg0, nullptr};

// The engine, the panel and the sensor on port 1, made once.
kxsim::Sensor& Line() {
    static kxsim::Sensor* sensor = [] {
        kxsim::ConnectMemoryRuntime();
        kxsim::Options o;
        o.inMemory = true;
        o.faults.silent = true;
        o.logLimit = 64;
        auto* s = new kxsim::Sensor(o);
        if (!s->start() || InitEngine(1, g_argv) != 1)
            std::abort();
        setenv("ORVANSCOPE_COM1", s->devicePath().c_str(), 1);
        SetCallbackTable(orv::callbackTable, orv::callbackCount);
        orv::panelHandle = LoadPanel(0, orv::PANEL_FILE, orv::PANEL);
        if (orv::panelHandle <= 0)
            std::abort();  // the panel file belongs beside the target
        return s;
    }();
    return *sensor;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    kxsim::Sensor& line = Line();
    orv::com = 1;
    OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096);  // afresh: nothing left from the last input
    orv::FlushRxQueue(1);
    if (size < 2)
        return 0;

    // The first byte picks the chunk size, the second what happens between chunks.
    const std::size_t chunk = 1 + data[0] % 80;
    const uint8_t mode = data[1];
    data += 2;
    size -= 2;

    orv::GetRxBuf(static_cast<int8_t>(mode));  // any count, negative and oversized included

    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t n = size - at < chunk ? size - at : chunk;
        line.inject(std::vector<uint8_t>(data + at, data + at + n));
        if (mode & 1) {
            orv::CheckComLine(1, orv::sync);
            continue;
        }
        // The runtime only notifies with 36 or more bytes waiting; also try the
        // other event bits, which must be ignored.
        orv::RX_Receive_Function(1, (mode & 2) ? 0x0006 : 0x8006, nullptr);
        if (mode & 8) {
            Delay(orv::RX_QUIET);  // the line goes quiet between chunks
            orv::ServiceRx();
        }
        while (GetInQLen(1) > 0) {
            orv::rx_flag = 0;
            orv::RX_Receive_Function(1, 0x8000, nullptr);
            if (orv::rx_flag == 1 &&
                !orv::HeaderPrefix(reinterpret_cast<const uint8_t*>(orv::szReadBuf.data()), 4, orv::sync))
                __builtin_trap();
            if (mode & 4)
                orv::CopyPPtoVars();  // a Get takes the block as parameters
            if (orv::graphrefresh) {
                orv::PlotNORMValues(orv::rawbuf.data(), orv::arrayNORM.data());
                orv::graphrefresh = 0;
            }
        }
    }
    return 0;
}
