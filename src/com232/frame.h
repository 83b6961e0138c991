// The 36-byte frame: sync word, order word, sixteen data words, big-endian.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int FRAME_LEN = 36;
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
extern int32_t sync;
extern int32_t order;

// Encodes `sync`, `orderCode` and values[0..PNUM-1] into szWriteBuf.
void FillTxBuf(int32_t orderCode, const int32_t* values);
// Decodes szReadBuf into sync, order and pp[0..count-1] (count clamped to PNUM).
void GetRxBuf(int32_t count);
// Big-endian word at data word k of a frame buffer.
uint16_t FrameWord(const std::array<char, BUF_LEN>& buf, int k);

}  // namespace orv
