// Fuzz target: the correction table build from arbitrary 3072-number sources.
// An accepted source must give a table that never falls, split whole into the
// four page buffers; a refused one must write nothing.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "com232/corrtable.h"
#include "runtime/runtime.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    // The build writes "KXlinear.dat" into the working directory: give it a
    // directory of its own (the run script passes absolute corpus paths).
    static const std::string dir = [] {
        std::string d = "/tmp/orv-fuzz-corr-" + std::to_string(getpid());
        std::string cmd = "mkdir -p " + d;
        if (std::system(cmd.c_str()) != 0)
            std::abort();
        if (chdir(d.c_str()) != 0)
            std::abort();
        return d;
    }();

    // Values and positions are mostly kept in range so that most inputs are
    // built, not refused.
    std::array<int32_t, 3072> src{};
    for (std::size_t i = 0; i < src.size() && 4 * i + 3 < size; ++i) {
        int32_t v;
        std::memcpy(&v, data + 4 * i, 4);
        if (i < 1024 && (v & 0x40000000) == 0)
            v = static_cast<int32_t>((v & 0x7fffffff) % 65536);
        if (i >= 1024 && i < 2048 && (v & 0x40000000) == 0)
            v = static_cast<int32_t>((v & 0x7fffffff) % 1024);
        src[i] = v;
    }
    const std::string path = dir + "/KXconfig.dat";
    if (ArrayToFile(path.c_str(), src.data(), TYPE_INT, 3072, 3, 0, 0, 0, 6, FILE_ASCII, FILE_TRUNCATE) < 0)
        std::abort();
    unlink("KXlinear.dat");

    if (orv::ReadCorrData(path.c_str()) < 0) {
        if (access("KXlinear.dat", F_OK) == 0)
            std::abort();  // a refused source wrote output
        return 0;
    }
    const int32_t* t = orv::vcorr.data() + 2048;
    for (int i = 1; i < 1024; ++i)
        if (t[i] < t[i - 1])
            std::abort();
    for (int i = 0; i < 256; ++i)
        if (orv::flashp4[i] != t[i] || orv::flashp5[i] != t[256 + i] || orv::flashp6[i] != t[512 + i] ||
            orv::flashp7[i] != t[768 + i])
            std::abort();
    return 0;
}
