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

// Puts the low 16 bits of `value` into buf[offset] (high byte) and buf[offset + 1].
void PutWord(std::array<char, BUF_LEN>& buf, int offset, int32_t value);
// Encodes `sync`, `orderCode` and values[0..PNUM-1] into szWriteBuf.
void FillTxBuf(int32_t orderCode, const int32_t* values);
// Decodes szReadBuf: its sync word into `sync` (the next request carries the
// sync word the sensor last sent), its order word into `order` and data words
// 0..count-1 (count clamped to 0..PNUM) into pp, each an unsigned 16-bit value.
void GetRxBuf(int32_t count);
// Decodes the sync word, the order word and data words 0..count-1 (count
// clamped to PNUM) of the 36-byte frame at `frame`, each an unsigned 16-bit value.
void DecodeFrame(const char* frame, int32_t count, int32_t* syncWord, int32_t* orderWord, int32_t* words);
// Big-endian word at data word k of a frame buffer.
uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k);

}  // namespace orv
