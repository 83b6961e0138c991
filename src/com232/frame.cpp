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

uint16_t WordAt(const char* buf, int offset) {
    const auto hi = static_cast<unsigned char>(buf[offset]);
    const auto lo = static_cast<unsigned char>(buf[offset + 1]);
    return static_cast<uint16_t>((hi << 8) | lo);
}

}  // namespace

void PutWord(std::array<char, BUF_LEN>& buf, int offset, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    buf[offset] = static_cast<char>((u >> 8) & 0xFFu);
    buf[offset + 1] = static_cast<char>(u & 0xFFu);
}

void FillTxBuf(int32_t orderCode, const int32_t* values) {
    PutWord(szWriteBuf, 0, sync);
    PutWord(szWriteBuf, 2, orderCode);
    for (int k = 0; k < PNUM; ++k)
        PutWord(szWriteBuf, 4 + 2 * k, values[k]);
}

void DecodeFrame(const char* frame, int32_t count, int32_t* syncWord, int32_t* orderWord, int32_t* words) {
    // The count decides how far the decoder writes: keep it inside the block
    // whatever a caller passes.
    if (count < 0)
        count = 0;
    if (count > PNUM)
        count = PNUM;
    *syncWord = WordAt(frame, 0);
    *orderWord = WordAt(frame, 2);
    for (int32_t k = 0; k < count; ++k)
        words[k] = WordAt(frame, 4 + 2 * k);
}

void GetRxBuf(int32_t count) {
    DecodeFrame(szReadBuf.data(), count, &sync, &order, pp.data());
}

uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k) {
    if (k < 0 || 5 + 2 * k >= BUF_LEN)
        return 0;
    return WordAt(buf.data(), 4 + 2 * k);
}

}  // namespace orv
