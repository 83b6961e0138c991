// Programming the correction table into flash pages 4..7, 16 words per block.
#pragma once

#include <array>
#include <cstdint>

namespace orv {

constexpr int32_t PAGE0 = 4096;
constexpr int32_t PAGE1 = 4352;
constexpr int32_t PAGE2 = 4608;
constexpr int32_t PAGE3 = 4864;
constexpr int32_t PAGE4 = 5120;
constexpr int32_t PAGE5 = 5376;
constexpr int32_t PAGE6 = 5632;
constexpr int32_t PAGE7 = 5888;
constexpr int32_t MAXBLOCK = 16;
constexpr int32_t PAGE_WORDS = 256;

void SendCorrDataToFlash();
int32_t WritePageDataToFlash(int32_t pageAddress, const int32_t* pageBuffer);
int32_t SendInfoBlockToFlash(int32_t blockAddress, int32_t word0);
int32_t WriteBlockDataToFlash(const int32_t* entries);

}  // namespace orv
