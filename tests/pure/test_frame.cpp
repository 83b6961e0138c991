// The frame codec: byte layout, 16-bit truncation, the sync word carried over
// from the last reply, and a decoder that stays inside its buffers.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "com232/frame.h"
#include "com232/params.h"

using namespace orv;

namespace {

std::vector<int> Sent(int n = FRAME_LEN) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i)
        out.push_back(static_cast<unsigned char>(szWriteBuf[i]));
    return out;
}

void PutReply(const std::vector<int>& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        szReadBuf[i] = static_cast<char>(bytes[i]);
}

}  // namespace

TEST(Frame, EchoFrameOfZeroBlock) {
    orv::sync = 85;
    pp.fill(0);
    FillTxBuf(7, pp.data());
    std::vector<int> want(FRAME_LEN, 0);
    want[1] = 0x55;
    want[3] = 0x07;
    EXPECT_EQ(Sent(), want);
}

TEST(Frame, EncodesLow16BitsBigEndianAndUsesArgumentNotOrderSlot) {
    orv::sync = 0x1234;
    order = 99;
    pp.fill(0);
    pp[0] = 0x12345;  // goes out as 0x2345
    pp[1] = -1;       // 0xFFFF
    pp[15] = 0xABCD;
    FillTxBuf(21, pp.data());
    auto b = Sent();
    EXPECT_EQ(b[0], 0x12);
    EXPECT_EQ(b[1], 0x34);
    EXPECT_EQ(b[2], 0x00);
    EXPECT_EQ(b[3], 21);
    EXPECT_EQ(b[4], 0x23);
    EXPECT_EQ(b[5], 0x45);
    EXPECT_EQ(b[6], 0xFF);
    EXPECT_EQ(b[7], 0xFF);
    EXPECT_EQ(b[34], 0xAB);
    EXPECT_EQ(b[35], 0xCD);
    EXPECT_EQ(order, 99);
}

TEST(Frame, DecodesUnsignedWordsAndTakesOverTheSyncWord) {
    std::vector<int> reply(FRAME_LEN, 0);
    reply[0] = 0x12;
    reply[1] = 0x34;
    reply[3] = 8;
    reply[4] = 0x00;
    reply[5] = 0xAA;
    reply[6] = 0xFF;
    reply[7] = 0xFF;
    reply[35] = 0x07;
    PutReply(reply);
    pp.fill(-5);
    orv::sync = 85;
    GetRxBuf(PNUM);
    EXPECT_EQ(orv::sync, 0x1234);
    EXPECT_EQ(order, 8);
    EXPECT_EQ(pp[0], 170);
    EXPECT_EQ(pp[1], 65535);
    EXPECT_EQ(pp[15], 7);
    EXPECT_EQ(FrameWord(szReadBuf, 0), 170);
    EXPECT_EQ(FrameWord(szReadBuf, 1), 0xFFFF);

    // The next request carries the sync word the sensor sent back.
    FillTxBuf(8, pp.data());
    EXPECT_EQ(Sent(2), (std::vector<int>{0x12, 0x34}));
}

TEST(Frame, DecodeCountIsClampedToTheBlock) {
    std::vector<int> reply(FRAME_LEN, 0x01);
    PutReply(reply);
    pp.fill(-5);
    GetRxBuf(3);
    EXPECT_EQ(pp[2], 0x0101);
    EXPECT_EQ(pp[3], -5);  // beyond the count: untouched

    // Negative and oversized counts never reach outside `pp`.
    pp.fill(-5);
    GetRxBuf(-7);
    for (int32_t v : pp)
        EXPECT_EQ(v, -5);
    GetRxBuf(1000);
    for (int32_t v : pp)
        EXPECT_EQ(v, 0x0101);

    EXPECT_EQ(FrameWord(szReadBuf, -1), 0);
    EXPECT_EQ(FrameWord(szReadBuf, 600), 0);
}
