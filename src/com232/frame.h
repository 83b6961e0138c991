// The 36-byte frame: sync word, order word, sixteen data words, big-endian.
#pragma once

#include <array>
#include <cstdint>

#include "com232/params.h"

namespace orv {

constexpr int FRAME_LEN = PNUM * 2 + 4;  // sync word, order word, PNUM data words: 36 bytes
constexpr int BUF_LEN = 1024;

// Order codes.
constexpr int32_t ORD_WRITE_RAM = 1;
constexpr int32_t ORD_READ_RAM = 2;
constexpr int32_t ORD_WRITE_EEPROM = 3;
constexpr int32_t ORD_READ_EEPROM = 4;
constexpr int32_t ORD_TEACH = 6;
constexpr int32_t ORD_ECHO = 7;
constexpr int32_t ORD_MEASURE = 8;
constexpr int32_t ORD_FLASH_ADDRESS = 20;
constexpr int32_t ORD_FLASH_DATA = 21;

constexpr int32_t SYNC_DEFAULT = 85;

extern std::array<char, BUF_LEN> szWriteBuf;
extern std::array<char, BUF_LEN> szReadBuf;
// The sync word that every request carries.
extern int32_t sync;
// The order word of the last reply decoded.
extern int32_t order;

constexpr int32_t HEADER_LEN = 4;  // sync word and order word

// Puts the low 16 bits of `value` into buf[offset] (high byte) and buf[offset + 1].
void PutWord(std::array<char, BUF_LEN>& buf, int offset, int32_t value);
// Encodes `sync`, `orderCode` and values[0..PNUM-1] into szWriteBuf.
void FillTxBuf(int32_t orderCode, const int32_t* values);
// Decodes szReadBuf into order and pp[0..count-1] (count clamped to PNUM).
// The reply's sync word is not taken over: requests always go out with the
// sync word the program started with, whatever arrived on the line.
void GetRxBuf(int32_t count);
// Decodes the order word and data words 0..count-1 (count clamped to PNUM)
// of the 36-byte frame at `frame`, each an unsigned 16-bit value.
void DecodeFrame(const char* frame, int32_t count, int32_t* orderWord, int32_t* words);
// Big-endian word at data word k of a frame buffer.
uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k);
// Order word of the frame in szReadBuf.
int32_t ReplyOrder();

// True for the order codes that requests and replies carry.
bool IsOrderCode(int32_t code);
// True when the n bytes at b (n may be below HEADER_LEN) can begin a frame:
// the sync word `syncWord`, then an order word naming an order code.
bool HeaderPrefix(const uint8_t* b, int32_t n, int32_t syncWord);

// Where the next frame lies in received bytes. Frames are found by their
// header and length. Bytes before a header cannot belong to a frame and are
// dropped. A frame right behind the previous one (in step) is taken as soon
// as its 36 bytes are there. After dropped bytes, a header pattern may also
// stand in the data of a torn frame, so a candidate is taken when no other
// header starts inside it (a torn frame glued to the start of the next one
// always holds that one's header), when the next frame's header follows it,
// or when the line has gone quiet (`quiet`) with it as the last bytes
// received. A candidate with a header inside and foreign bytes behind it is
// given up for the next header. Part of a frame that the quiet line has left
// unfinished is a reply cut short: what follows it is no longer in step.
struct FrameScan {
    int32_t drop;  // leading bytes that cannot belong to a frame
    bool found;    // a whole frame starts after them
    int32_t need;  // not found: bytes still to come before the next decision
    bool waiting;  // not found: a whole candidate waits for more bytes or a quiet line
    bool inStep;   // the bytes left after the scan (and the frame) are in step
};
FrameScan ScanFrame(const uint8_t* b, int32_t n, int32_t syncWord, bool inStep, bool quiet);

}  // namespace orv
