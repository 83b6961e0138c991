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
constexpr int CORR_FIELD_WIDTH = 6;

// ReadCorrData's refusal when a pair names a position outside 0..1023 (the
// other refusals return the array-file code of the failed read).
constexpr int CORR_ERR_POSITION = -6;
// ReadCorrData's refusal of a missing path.
constexpr int CORR_ERR_NO_PATH = -7;
// ReadCorrData's refusal when a pair's value does not fit a 16-bit flash word.
constexpr int CORR_ERR_VALUE = -8;
// The values a table entry can hold: the flash words are 16 bits, written as
// the entry's low 16 bits, so a negative entry goes out as its two's complement.
constexpr int32_t CORR_VALUE_MIN = -32768;
constexpr int32_t CORR_VALUE_MAX = 65535;

// Entries of the correction table, or of one of its lists, by index 0..1023.
using CorrTable = std::array<int32_t, CORR_ENTRIES>;

extern std::array<int32_t, VCORR_LEN> vcorr;
extern std::array<int32_t, 256> flashp4, flashp5, flashp6, flashp7;
// 1 when the last build could not save "KXlinear.dat", else 0.
extern int32_t corr_save_failed;

// Builds the table from `path`, writes "KXlinear.dat" and fills the page
// buffers. Returns 0, or a negative value when the source was refused (the
// reason is on the status line and nothing was built or written: vcorr, the
// page buffers and "KXlinear.dat" keep what they held). A source is refused
// when it cannot be read whole, when a position lies outside 0..1023 or when
// a value lies outside -32768..65535. A build whose table file cannot be saved
// still fills the page buffers; it says so and sets corr_save_failed.
int ReadCorrData(const char* path);
// ReadCorrData with the table record written to `output` instead of the bare
// name "KXlinear.dat" (a front end that keeps it beside the source).
int BuildCorrData(const char* path, const char* output);

// Checks the 3072 numbers of a source (values, positions, the unused group):
// 0 when every pair can be built, otherwise CORR_ERR_POSITION or
// CORR_ERR_VALUE for the first pair that cannot, whose index goes to *pair.
int CheckCorrSource(const int32_t* source, int* pair);
// Builds the table from a checked source. `positions` receives the source's
// positions back to front (what the output file records), `table` the
// finished table, which never falls.
void BuildCorrTable(const int32_t* source, CorrTable& positions, CorrTable& table);

}  // namespace orv
