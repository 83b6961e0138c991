// Encoding and decoding of the 36-byte frame: sync word, order word and the
// sixteen data words, each most significant byte first.
#include "com232/frame.h"

#include <algorithm>

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

void DecodeFrame(const char* frame, int32_t count, int32_t* orderWord, int32_t* words) {
    // The count decides how far the decoder writes: keep it inside the block
    // whatever a caller passes.
    if (count < 0)
        count = 0;
    if (count > PNUM)
        count = PNUM;
    *orderWord = WordAt(frame, 2);
    for (int32_t k = 0; k < count; ++k)
        words[k] = WordAt(frame, 4 + 2 * k);
}

void GetRxBuf(int32_t count) {
    DecodeFrame(szReadBuf.data(), count, &order, pp.data());
}

uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k) {
    if (k < 0 || 5 + 2 * k >= BUF_LEN)
        return 0;
    return WordAt(buf.data(), 4 + 2 * k);
}

int32_t ReplyOrder() {
    return WordAt(szReadBuf.data(), 2);
}

bool IsOrderCode(int32_t code) {
    switch (code) {
        case ORD_WRITE_RAM:
        case ORD_READ_RAM:
        case ORD_WRITE_EEPROM:
        case ORD_READ_EEPROM:
        case ORD_TEACH:
        case ORD_ECHO:
        case ORD_MEASURE:
        case ORD_FLASH_ADDRESS:
        case ORD_FLASH_DATA:
            return true;
        default:
            return false;
    }
}

bool HeaderPrefix(const uint8_t* b, int32_t n, int32_t syncWord) {
    const auto s = static_cast<uint32_t>(syncWord);
    const uint8_t want[3] = {static_cast<uint8_t>((s >> 8) & 0xFFu), static_cast<uint8_t>(s & 0xFFu), 0};
    const int32_t fixed = std::min<int32_t>(n, 3);
    for (int32_t i = 0; i < fixed; ++i) {
        if (b[i] != want[i])
            return false;
    }
    return n < HEADER_LEN || IsOrderCode(b[3]);
}

namespace {

// True when a whole frame header starts inside the frame at b (36 bytes).
// A frame torn off at its start and glued to the start of the next frame
// always holds the next frame's whole header: a header pattern in the torn
// frame's data cannot lie within its first four bytes, which hold its own
// header, so the next frame begins at least four bytes before the end.
bool HeaderInside(const uint8_t* b, int32_t syncWord) {
    for (int32_t m = 1; m <= FRAME_LEN - HEADER_LEN; ++m) {
        if (HeaderPrefix(b + m, HEADER_LEN, syncWord))
            return true;
    }
    return false;
}

}  // namespace

FrameScan ScanFrame(const uint8_t* b, int32_t n, int32_t syncWord, bool inStep, bool quiet) {
    int32_t at = 0;
    for (;;) {
        while (at < n && !HeaderPrefix(b + at, std::min<int32_t>(n - at, HEADER_LEN), syncWord))
            ++at;
        if (at > 0)
            inStep = false;
        const int32_t avail = n - at;
        if (avail < FRAME_LEN) {
            // A partial frame on a quiet line will never be completed.
            const bool stillInStep = inStep && !(quiet && avail > 0);
            return {at, false, FRAME_LEN - avail, false, stillInStep};
        }
        if (inStep)
            return {at, true, 0, false, true};

        const FrameScan take = {at, true, 0, false, true};
        const int32_t after = avail - FRAME_LEN;
        const int32_t next = std::min<int32_t>(after, HEADER_LEN);
        if (after > 0 && HeaderPrefix(b + at + FRAME_LEN, next, syncWord)) {
            if (next == HEADER_LEN || quiet)
                return take;  // the next frame lines up behind it
            return {at, false, HEADER_LEN - next, false, false};
        }
        if (!HeaderInside(b + at, syncWord))
            return take;  // nothing, or bytes that start no frame, behind a whole frame
        // A header pattern inside: the data may hold one, or the candidate is
        // a torn frame running into the next. Nothing behind it yet: wait.
        if (after == 0)
            return quiet ? take : FrameScan{at, false, 1, true, false};
        ++at;  // foreign bytes behind it: not a frame here
    }
}

}  // namespace orv
