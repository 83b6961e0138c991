// Common entry of every test executable: tests run without a display; on the
// memory runtime, its "mem:N" ports reach kxsim's sensors in memory.
#include <gtest/gtest.h>

#include <cstdlib>

#ifdef ORV_TEST_MEMORY_RUNTIME
#include "kxsim_memory.h"
#endif

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
#ifdef ORV_TEST_MEMORY_RUNTIME
    kxsim::ConnectMemoryRuntime();
#endif
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
