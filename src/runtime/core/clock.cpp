// The program's clock: seconds on a steady clock, for time-outs that span
// several reads.
#include <chrono>

#include "runtime/rtcore.h"

double Timer() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
