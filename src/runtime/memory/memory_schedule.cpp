// The memory runtime's callbacks run later (ScheduleCallback), from its
// event processing on the virtual clock.
#include <map>

#include "runtime/memory/memory_internal.h"
#include "runtime/rtcore.h"

namespace {

using Callback = void (*)(void*);

// Each callback's latest request; an earlier one that fires finds itself replaced.
std::map<Callback, unsigned long>& Generations() {
    static std::map<Callback, unsigned long> g;
    return g;
}

}  // namespace

int ScheduleCallback(double seconds, void (*callback)(void* data), void* data) {
    if (callback == nullptr)
        return -1;
    const unsigned long generation = ++Generations()[callback];
    const double delayMs = seconds > 0 ? seconds * 1000.0 : 0.0;
    orv_mem::Schedule(orv_mem::NowMs() + delayMs, [callback, data, generation] {
        if (Generations()[callback] == generation)
            callback(data);
    });
    return 0;
}
