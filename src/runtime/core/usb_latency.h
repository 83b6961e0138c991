// Latency timer of USB serial adapters (Linux). An FTDI-type adapter passes
// received bytes on only when its latency timer expires (16 ms by default) or
// its buffer fills, which delays every short reply by up to that long.
#pragma once

#include <QString>

#include <cstdint>

namespace orv_rt {

// The latency timer before and after the adjustment, in milliseconds; -1 when
// the device has none (a pseudo-terminal, a built-in UART) or it is unreadable.
struct UsbLatency {
    int foundMs = -1;
    int nowMs = -1;
};

// Looks for `<sysClassTty>/<ttyName>/device/latency_timer` (the system's is
// /sys/class/tty). When the timer is above 1 ms, sets the driver's low-latency
// flag on the opened device `handle` (skipped when it is < 0), which the adapter's driver turns into a
// 1 ms timer and which needs no privileges, then, if the timer still reads
// higher, writes 1 to the file (needs the rights to it). Logs what it found and
// did under `label` in the line log, and how to set the timer by hand when it
// could not.
UsbLatency AdjustUsbLatency(const QString& label, const QString& ttyName, const QString& sysClassTty,
                            std::intptr_t handle);

}  // namespace orv_rt
