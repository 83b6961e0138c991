// Encoding and decoding of the 36-byte frame: sync word, order word and the
// sixteen data words, each most significant byte first.
#include "com232/frame.h"

#include "com232/params.h"

namespace orv {

std::array<char, BUF_LEN> szWriteBuf{};
std::array<char, BUF_LEN> szReadBuf{};
int32_t sync = SYNC_DEFAULT;
int32_t order = 1;

namespace {

void PutWord(int offset, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    szWriteBuf[offset] = static_cast<char>((u >> 8) & 0xFFu);
    szWriteBuf[offset + 1] = static_cast<char>(u & 0xFFu);
}

uint16_t WordAt(const std::array<char, BUF_LEN>& buf, int offset) {
    const auto hi = static_cast<unsigned char>(buf[offset]);
    const auto lo = static_cast<unsigned char>(buf[offset + 1]);
    return static_cast<uint16_t>((hi << 8) | lo);
}

}  // namespace

void FillTxBuf(int32_t orderCode, const int32_t* values) {
    PutWord(0, sync);
    PutWord(2, orderCode);
    for (int k = 0; k < PNUM; ++k)
        PutWord(4 + 2 * k, values[k]);
}

void GetRxBuf(int32_t count) {
    // The count decides how far the decoder writes into `pp`: keep it inside
    // the block whatever a caller passes.
    if (count < 0)
        count = 0;
    if (count > PNUM)
        count = PNUM;
    sync = WordAt(szReadBuf, 0);
    order = WordAt(szReadBuf, 2);
    for (int32_t k = 0; k < count; ++k)
        pp[k] = WordAt(szReadBuf, 4 + 2 * k);
}

uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k) {
    if (k < 0 || 5 + 2 * k >= BUF_LEN)
        return 0;
    return WordAt(buf, 4 + 2 * k);
}

}  // namespace orv
