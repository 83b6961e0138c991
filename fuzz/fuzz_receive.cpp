// Fuzz target: arbitrary byte streams arriving on the line, in arbitrary
// chunks and at arbitrary times, through the receive notification, the
// framer, the decoder, the live chart and the comparators, and the line check
// reading a reply directly. A frame is taken only as the answer to a request
// the program wrote: bytes on a line nothing was asked of are never a reply.
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
#include "com232/framer.h"
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
    // Afresh, as the program opens a line: nothing is left from the last input.
    orv::OpenLine(1, "");
    InstallComCallback(1, orv::eventMask, orv::NOTIFY_COUNT, orv::sync, orv::RX_Receive_Function, nullptr);
    if (size < 2)
        return 0;

    // The first byte picks the chunk size, the second what happens between chunks.
    const std::size_t chunk = 1 + data[0] % 80;
    const uint8_t mode = data[1];
    data += 2;
    size -= 2;

    orv::GetRxBuf(static_cast<int8_t>(mode));  // any count, negative and oversized included

    uint32_t asked = 0;  // the newest request written
    for (std::size_t at = 0; at < size; at += chunk) {
        const std::size_t n = size - at < chunk ? size - at : chunk;
        if (mode & 16) {
            // A request the bytes may answer, and time for it to be answered.
            orv::CopyVarsToPP();
            if (const uint32_t seq = orv::WriteRequest(1, orv::ORD_MEASURE, orv::pp.data()))
                asked = seq;
            Delay(orv::REPLY_TURN * ((data[at] & 3) + 1) / 2);
        }
        line.inject(std::vector<uint8_t>(data + at, data + at + n));
        if (mode & 1) {
            orv::CheckComLine(1, orv::sync);
            asked = UINT32_MAX;  // its echo request may be answered too
            continue;
        }
        // Also try the other event bits, which must be ignored.
        orv::RX_Receive_Function(1, (mode & 2) ? 0x0006 : 0x8006, nullptr);
        if (mode & 8)
            Delay(orv::RX_GAP);  // the line goes quiet between chunks
        for (int pass = 0; pass < 4; ++pass) {
            orv::rx_flag = 0;
            orv::ServiceRx();
            if (orv::rx_flag == 1 && (orv::rx_answer == 0 || orv::rx_answer > asked))
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
