// Shared pieces of the benchmarks that run the real program (offscreen)
// against the simulated sensor: start-up, timed Run/Stop, and readings of
// time, CPU and memory.
#pragma once

#include <dirent.h>
#include <time.h>

#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "kxsim.h"
#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"

namespace bench {

inline double Seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
inline double Wall() {
    return Seconds(CLOCK_MONOTONIC);
}
// CPU time of the calling (GUI) thread only: the simulated sensor's thread is
// not the program's cost.
inline double ThreadCpu() {
    return Seconds(CLOCK_THREAD_CPUTIME_ID);
}

inline long ResidentKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (!f)
        return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

inline int OpenFds() {
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return -1;
    int n = 0;
    while (readdir(d))
        ++n;
    closedir(d);
    return n - 3;  // ".", ".." and the directory's own descriptor
}

// Parses a whole decimal number in lo..hi.
inline bool IntArg(const char* s, long lo, long hi, int& out) {
    char* end = nullptr;
    const long v = std::strtol(s, &end, 10);
    if (end == s || *end != '\0' || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

// How the simulated sensor hands its replies over, for the benchmark's output.
inline std::string LineName(const kxsim::Options& o) {
    std::string name = o.trickleBytes > 0
                           ? "replies in pieces of " + std::to_string(o.trickleBytes) + " bytes"
                           : "whole replies";
    name += o.usbLatencyMs > 0 ? ", USB adapter latency " + std::to_string(o.usbLatencyMs) + " ms"
                               : ", no USB adapter";
    return name;
}

// Starts the sensor and the program with port 1 on it, and shows the panel.
inline bool StartProgram(kxsim::Sensor& sensor) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    std::string error;
    if (!sensor.start(&error)) {
        std::fprintf(stderr, "simulated sensor: %s\n", error.c_str());
        return false;
    }
    setenv("ORVANSCOPE_COM1", sensor.devicePath().c_str(), 1);
    static char arg0[] = "OrvanscopeV10";
    static char* argv0[] = {arg0, nullptr};
    if (orv::StartUp(1, argv0) != 0) {
        std::fprintf(stderr, "start-up failed\n");
        return false;
    }
    DisplayPanel(orv::panelHandle);
    rt_test::Pump(200);
    return true;
}

// Frames the sensor has received: once Run is pressed, measurement requests.
inline std::size_t Requests(const kxsim::Sensor& sensor) {
    return sensor.framesReceived();
}

// Presses Run and lets the scope run for `seconds`; Stop is pressed from a
// timer that fires inside the scope's own event processing. `every` is called
// from the same loop once a second with the seconds elapsed.
template <typename Every>
void RunScopeFor(double seconds, Every every) {
    const double start = Wall();
    QTimer tick;
    tick.setInterval(1000);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const double t = Wall() - start;
        every(t);
        if (t >= seconds) {
            tick.stop();
            rt_test::Click(orv::panelHandle, orv::BTNStop);
        }
    });
    tick.start();
    rt_test::Click(orv::panelHandle, orv::BTNRun);  // returns when the scope has stopped
}

}  // namespace bench
