// The program's clock: seconds on a steady clock, for time-outs that span
// several reads, and the blocking delay.
#include <algorithm>
#include <chrono>
#include <thread>

#include "runtime/core/core_internal.h"
#include "runtime/rtcore.h"

double Timer() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void Delay(double seconds) {
    orv_rt::BeforeBlocking();
    if (!(seconds > 0))
        return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 86400.0)));
}
