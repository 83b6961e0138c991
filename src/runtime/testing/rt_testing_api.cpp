// The parts of the test driver that read the panel through the runtime API
// alone, shared by the driver of the real runtime and that of the memory
// runtime.
#include <string>

#include "runtime/runtime.h"
#include "runtime/testing/rt_testing.h"

namespace rt_test {

int Int(int panel, int control) {
    int v = 0;
    GetCtrlVal(panel, control, &v);
    return v;
}

std::string Mark(int panel, int control) {
    char text[256];
    GetCtrlAttributeText(panel, control, ATR_MARK_TEXT, text, sizeof text);
    return text;
}

}  // namespace rt_test
