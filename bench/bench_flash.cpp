// Times the whole programming of pages 4..7 against the simulated sensor
// pacing a 19200-baud line, and compares it with the least the line and the
// sequence's own waits allow.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/corrtable.h"
#include "com232/flash.h"
#include "com232/rs232.h"
#include "kxsim.h"
#include "runtime/runtime.h"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // runs without a display
    kxsim::Sensor sensor;                       // paces the line like the real one
    std::string error;
    if (!sensor.start(&error)) {
        std::fprintf(stderr, "simulated sensor: %s\n", error.c_str());
        return 1;
    }
    setenv("ORVANSCOPE_COM1", sensor.devicePath().c_str(), 1);
    if (InitEngine(argc, argv) == 0) {
        std::fprintf(stderr, "engine did not start\n");
        return 1;
    }
    SetCallbackTable(orv::callbackTable, orv::callbackCount);
    orv::panelHandle = LoadPanel(0, orv::PANEL_FILE, orv::PANEL);  // for NumValue and the status line
    orv::com = 1;
    if (OpenComConfig(orv::com, "", 19200, 0, 8, 1, 4096, 4096) < 0) {
        std::fprintf(stderr, "cannot open the simulated sensor's line\n");
        return 1;
    }
    SetComTime(orv::com, orv::COM_TIMEOUT);
    SetCTSMode(orv::com, 0);

    std::array<int32_t, 256>* pages[] = {&orv::flashp4, &orv::flashp5, &orv::flashp6, &orv::flashp7};
    for (int i = 0; i < 1024; ++i)
        (*pages[i / 256])[i % 256] = 3 * i - 100;

    const auto t0 = std::chrono::steady_clock::now();
    orv::SendCorrDataToFlash();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

    bool programmed = true;
    for (int p = 0; p < 4; ++p) {
        const kxsim::Page got = sensor.flashPage(p + 4);
        for (int i = 0; i < 256; ++i)
            programmed = programmed && got[i] == static_cast<uint16_t>((*pages[p])[i]);
    }
    // The sequence waits 50 ms after each frame before it reads the reply.
    // Counted one after the other, line time and wait give 11.95 s; since
    // the request and reply travel during that wait, the true floor is the
    // longer of the two per exchange.
    const double wire = 2 * kxsim::kFrameWireMs / 1000.0;  // request and reply
    const double fixed = 4 * orv::FLASH_ERASE_WAIT + 3 * orv::FLASH_PAGE_WAIT;
    const double sequential = 64 * 2 * (wire + orv::FLASH_REPLY_WAIT) + fixed;
    const double overlapped = 64 * 2 * std::max(wire, orv::FLASH_REPLY_WAIT) + fixed;
    std::printf("%-44s %10s\n", "Flash pages 4..7 (128 exchanges)", "seconds");
    std::printf("%-44s %10.3f\n", "  measured", seconds);
    std::printf("%-44s %10.3f\n", "  minimum, line + waits one after the other", sequential);
    std::printf("%-44s %10.4f\n", "  ratio to it (target <= 1.03)", seconds / sequential);
    std::printf("%-44s %10.3f\n", "  floor, line during the 50 ms waits", overlapped);
    std::printf("%-44s %10.4f\n", "  ratio to the floor", seconds / overlapped);
    std::printf("%-44s %s\n", "  final status", orv::szStatus.data());
    std::printf("%-44s %s\n", "  sensor's pages equal the table", programmed ? "yes" : "NO");
    CloseCom(orv::com);
    sensor.stop();
    return programmed ? 0 : 1;
}
