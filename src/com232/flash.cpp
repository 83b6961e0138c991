// STUB
#include "com232/flash.h"
namespace orv {
void SendCorrDataToFlash() {}
int32_t WritePageDataToFlash(int32_t, const int32_t*) {
    return 0;
}
int32_t SendInfoBlockToFlash(int32_t, int32_t) {
    return -1;
}
int32_t WriteBlockDataToFlash(const int32_t*) {
    return -1;
}
}  // namespace orv
