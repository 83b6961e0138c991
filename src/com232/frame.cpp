// STUB
#include "com232/frame.h"
namespace orv {
std::array<char, BUF_LEN> szWriteBuf{};
std::array<char, BUF_LEN> szReadBuf{};
int32_t sync = SYNC_DEFAULT;
int32_t order = 1;
void FillTxBuf(int32_t, const int32_t*) {}
void GetRxBuf(int32_t) {}
uint16_t FrameWord(const std::array<char, BUF_LEN>&, int) {
    return 0;
}
}  // namespace orv
