// STUB
#include "gui/corrtable.h"
namespace orv {
std::array<int32_t, VCORR_LEN> vcorr{};
std::array<int32_t, 256> flashp4{}, flashp5{}, flashp6{}, flashp7{};
int ReadCorrData(const char*) {
    return -1;
}
}  // namespace orv
