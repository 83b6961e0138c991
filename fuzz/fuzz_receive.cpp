// Fuzz target: arbitrary byte streams arriving on the line, in arbitrary
// chunks, through the receive notification, the frame finder, the decoder,
// the live chart and the comparators, and the line check reading a reply
// directly. Every frame taken must begin with a frame header.
#include <cstddef>
#include <cstdint>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "fake_runtime.h"
#include "gui/chart.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    fake_rt::Reset();
    orv::com = 1;
    OpenComConfig(1, "", 19200, 0, 8, 1, 4096, 4096);
    orv::FlushRxQueue(1);  // nothing held over from the last input
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
        fake_rt::Feed(1, data + at, n);
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
        while (fake_rt::Pending(1) > 0) {
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
