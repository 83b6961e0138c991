// The core's engine without the toolkit, for a program without a window: the
// event processing runs the callbacks that have fallen due (the line's own
// work among them: its receive notification, its lost ports) and otherwise
// sleeps until the next one is due, at most a short while, so a polling
// caller does not spin a core.
#include <algorithm>
#include <array>
#include <chrono>
#include <thread>

#include "runtime/core/core_internal.h"
#include "runtime/files/files_internal.h"
#include "runtime/rtcore.h"

namespace {

// The longest sleep of ProcessSystemEvents with nothing due.
constexpr double kIdleMs = 10;

// A callback asked for with ScheduleCallback: one slot per callback.
struct Scheduled {
    void (*callback)(void*) = nullptr;
    void* data = nullptr;
    double dueMs = 0;
    bool pending = false;
    bool running = false;
};

std::array<Scheduled, 16> gCalls;
bool gStarted = false;

double NowMs() {
    return Timer() * 1000.0;
}

// Runs the callbacks due by `nowMs`, each once and never nested inside
// itself; one that is asked for again meanwhile waits for the next pass.
bool RunDue(double nowMs) {
    bool ran = false;
    for (Scheduled& s : gCalls) {
        if (!s.pending || s.running || s.dueMs > nowMs)
            continue;
        s.pending = false;
        s.running = true;
        s.callback(s.data);
        s.running = false;
        ran = true;
    }
    return ran;
}

}  // namespace

int InitConsoleEngine(int /*argc*/, char* /*argv*/[]) {
    if (!gStarted) {
        gStarted = true;
        orv_rt::RememberProjectDir();
    }
    return 1;
}

int ProcessSystemEvents() {
    if (!gStarted)
        return orv_rt::ERR_NO_ENGINE;
    orv_rt::BeforeEvents();
    const double now = NowMs();
    if (RunDue(now))
        return 0;
    double next = now + kIdleMs;
    for (const Scheduled& s : gCalls) {
        if (s.pending && !s.running)
            next = std::min(next, s.dueMs);
    }
    if (next > now)
        std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(next - now));
    RunDue(NowMs());
    return 0;
}

int ScheduleCallback(double seconds, void (*callback)(void* data), void* data) {
    if (!callback || !gStarted)
        return orv_rt::ERR_NO_ENGINE;
    Scheduled* slot = nullptr;
    for (Scheduled& s : gCalls) {
        if (s.callback == callback) {
            slot = &s;
            break;
        }
        if (!slot && !s.pending && !s.running)
            slot = &s;
    }
    if (!slot)
        return orv_rt::ERR_NO_ENGINE;
    const double ms = seconds > 0 ? std::min(seconds, 86400.0) * 1000.0 : 0.0;
    *slot = Scheduled{callback, data, NowMs() + ms, true, slot->callback == callback && slot->running};
    return 0;
}
