// The memory runtime's callbacks run later (ScheduleCallback) and its line log
// of the program's verdicts on received bytes (kept for tests).
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "runtime/memory/memory_internal.h"
#include "runtime/rtcore.h"

namespace orv_mem {

std::vector<LineVerdict>& LineVerdicts() {
    static std::vector<LineVerdict> v;
    return v;
}

}  // namespace orv_mem

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

void LineLogVerdict(int port, int verdict, const char* bytes, int count, unsigned request) {
    orv_mem::LineVerdict v;
    v.port = port;
    v.verdict = verdict;
    v.request = request;
    if (bytes != nullptr && count > 0)
        v.bytes.assign(bytes, bytes + count);
    if (std::getenv("ORV_MEM_LINELOG")) {
        std::fprintf(stderr, "%10.1f COM%d v%d #%u", orv_mem::NowMs(), port, verdict, request);
        for (int i = 0; i < count && i < 8 && bytes; ++i)
            std::fprintf(stderr, " %02X", static_cast<unsigned char>(bytes[i]));
        std::fprintf(stderr, "\n");
    }
    auto& all = orv_mem::LineVerdicts();
    if (all.size() >= 4096)
        all.erase(all.begin(), all.begin() + 2048);  // a long run keeps the newest
    all.push_back(std::move(v));
}
