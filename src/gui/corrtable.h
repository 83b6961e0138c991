// The correction table builder: source file to 1024-entry table, the
// "KXlinear.dat" output and the four page buffers.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int CORR_ENTRIES = 1024;
constexpr int CORR_GROUPS = 3;
constexpr int CORR_ELEMENTS = CORR_ENTRIES * CORR_GROUPS;  // 3072
constexpr int VCORR_LEN = 4096;
constexpr const char* CORR_SOURCE_FILE = "KXconfig.dat";
constexpr const char* CORR_OUTPUT_FILE = "KXlinear.dat";

extern std::array<int32_t, VCORR_LEN> vcorr;
extern std::array<int32_t, 256> flashp4, flashp5, flashp6, flashp7;

// Builds the table from `path`, writes "KXlinear.dat" and fills the page
// buffers. Returns 0, or a negative value when the source was refused (the
// reason is on the status line and nothing was built or written).
int ReadCorrData(const char* path);

}  // namespace orv
