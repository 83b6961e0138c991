// Fuzz target: the array-file reader on arbitrary text, as a parameter file
// (16 unsigned numbers) and as a correction source (3072 signed numbers).
// A failed read must leave the caller's array untouched; a successful one
// must survive a write and a second read unchanged.
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "runtime/runtime.h"

namespace {

std::string TempPath(const char* tag) {
    return "/tmp/orv-fuzz-" + std::to_string(getpid()) + "-" + tag + ".dat";
}

template <typename T, std::size_t N>
void Check(const std::string& path, int type) {
    std::array<T, N> values;
    values.fill(static_cast<T>(0x5A5A5A5A));
    const int rc = FileToArray(path.c_str(), values.data(), type, N, 1, 0, 0, FILE_ASCII);
    if (rc < 0) {
        for (T v : values)
            if (v != static_cast<T>(0x5A5A5A5A))
                std::abort();  // failed read changed the array
        return;
    }
    const std::string copy = TempPath("copy");
    if (ArrayToFile(copy.c_str(), values.data(), type, N, N == 16 ? 1 : 3, 0, 0, 0, 6, FILE_ASCII,
                    FILE_TRUNCATE) < 0)
        std::abort();
    std::array<T, N> again{};
    if (FileToArray(copy.c_str(), again.data(), type, N, N == 16 ? 1 : 3, 0, 0, FILE_ASCII) < 0)
        std::abort();
    if (again != values)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string path = TempPath("in");
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    Check<uint32_t, 16>(path, TYPE_UINT);
    Check<int32_t, 3072>(path, TYPE_INT);
    return 0;
}
