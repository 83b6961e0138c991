// The frame codec: byte layout, 16-bit truncation, a sync word that replies
// never change, a decoder that stays inside its buffers, and finding frames
// in a stream of bytes that may be torn or noisy.
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

TEST(Frame, DecodesUnsignedWordsAndKeepsTheSyncWordSent) {
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
    EXPECT_EQ(orv::sync, 85);
    EXPECT_EQ(order, 8);
    EXPECT_EQ(pp[0], 170);
    EXPECT_EQ(pp[1], 65535);
    EXPECT_EQ(pp[15], 7);
    EXPECT_EQ(FrameWord(szReadBuf, 0), 170);
    EXPECT_EQ(FrameWord(szReadBuf, 1), 0xFFFF);

    // Noise or a foreign sync word on the line never changes what goes out.
    FillTxBuf(8, pp.data());
    EXPECT_EQ(Sent(2), (std::vector<int>{0x00, 0x55}));
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

// ---------------------------------------------------------- finding frames

namespace {

using Bytes = std::vector<uint8_t>;

Bytes MakeFrame(int order, std::vector<int> words = {}) {
    Bytes f(FRAME_LEN, 0);
    f[1] = 0x55;
    f[3] = static_cast<uint8_t>(order);
    for (std::size_t k = 0; k < words.size() && k < 16; ++k) {
        f[4 + 2 * k] = static_cast<uint8_t>(words[k] >> 8);
        f[5 + 2 * k] = static_cast<uint8_t>(words[k] & 0xFF);
    }
    return f;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes Tail(const Bytes& f, std::size_t n) {
    return Bytes(f.end() - static_cast<long>(n), f.end());
}

// Feeds bursts of bytes, each in pieces of `piece` bytes, to a holding
// buffer as the receive side keeps it, and returns the frames taken. The line
// goes quiet after every burst but the last, and after the last when
// `quietAtEnd` is set.
std::vector<Bytes> Frames(const std::vector<Bytes>& bursts, std::size_t piece, bool quietAtEnd = false) {
    std::vector<Bytes> out;
    Bytes held;
    bool inStep = true;
    auto take = [&](bool quiet) {
        for (;;) {
            const FrameScan s = ScanFrame(held.data(), static_cast<int32_t>(held.size()), 85, inStep, quiet);
            EXPECT_GE(s.drop, 0);
            EXPECT_LE(s.drop, static_cast<int32_t>(held.size()));
            inStep = s.inStep;
            held.erase(held.begin(), held.begin() + s.drop);
            if (!s.found)
                return;
            out.emplace_back(held.begin(), held.begin() + FRAME_LEN);
            held.erase(held.begin(), held.begin() + FRAME_LEN);
        }
    };
    for (std::size_t i = 0; i < bursts.size(); ++i) {
        const Bytes& line = bursts[i];
        for (std::size_t at = 0; at < line.size(); at += piece) {
            held.insert(held.end(), line.begin() + static_cast<long>(at),
                        line.begin() + static_cast<long>(std::min(line.size(), at + piece)));
            take(false);
        }
        if (i + 1 < bursts.size() || quietAtEnd)
            take(true);
    }
    return out;
}

std::vector<Bytes> Frames(const Bytes& line, std::size_t piece, bool quietAtEnd = false) {
    return Frames(std::vector<Bytes>{line}, piece, quietAtEnd);
}

}  // namespace

TEST(FrameScan, WholeFramesInStepAreTakenInAnyPieces) {
    // hysteresis 85 then polarity 1: a header pattern inside the data.
    const Bytes a = MakeFrame(8, {600, 700, 800, 128, 10, 85, 1});
    const Bytes b = MakeFrame(2, {500, 1, 512});
    for (std::size_t piece : {1u, 4u, 7u, 36u, 72u})
        EXPECT_EQ(Frames(Cat({a, b}), piece), (std::vector<Bytes>{a, b})) << piece;

    // 35 bytes are not a frame yet; the scan says how many are missing.
    const FrameScan s = ScanFrame(a.data(), 35, 85, true, false);
    EXPECT_FALSE(s.found);
    EXPECT_EQ(s.drop, 0);
    EXPECT_EQ(s.need, 1);
}

TEST(FrameScan, NoiseAndForeignSyncWordsAreDroppedAndNeverAFrame) {
    Bytes noise(500);
    for (std::size_t i = 0; i < noise.size(); ++i)
        noise[i] = static_cast<uint8_t>(0x80 | ((i * 37) & 0x7F));
    EXPECT_TRUE(Frames(noise, 9, true).empty());

    Bytes foreign = MakeFrame(8, {600});
    foreign[0] = 0x12;
    foreign[1] = 0x34;
    EXPECT_TRUE(Frames(foreign, 36, true).empty());
    Bytes badOrder = MakeFrame(9);
    EXPECT_TRUE(Frames(badOrder, 36, true).empty());

    // Noise before a reply is dropped and the reply taken.
    const Bytes reply = MakeFrame(2, {500, 1, 512});
    const Bytes junk(noise.begin(), noise.begin() + 10);
    for (std::size_t piece : {1u, 4u, 46u}) {
        EXPECT_EQ(Frames(Cat({junk, reply}), piece), (std::vector<Bytes>{reply})) << piece;
        EXPECT_EQ(Frames(Cat({junk, reply, junk, reply, reply}), piece),
                  (std::vector<Bytes>{reply, reply, reply}))
            << piece;
    }
}

TEST(FrameScan, TornFrameIsNeverTakenAndTheNextWholeOneIs) {
    const Bytes measure = MakeFrame(8, {600, 700, 800, 128, 10, 10, 1});
    const Bytes block = MakeFrame(2, {500, 1, 512, 128});
    // A flush cut the measurement reply: its tail comes before the block.
    for (std::size_t cut : {1u, 5u, 20u, 33u, 35u})
        for (std::size_t piece : {1u, 4u, 36u})
            EXPECT_EQ(Frames(Cat({Tail(measure, cut), block}), piece), (std::vector<Bytes>{block}))
                << "tail " << cut << " piece " << piece;

    // The tail holds what looks like a header (tolerance 85, backlimit 8):
    // the frame it would start runs into the block, whose header lies inside.
    const Bytes tricky = MakeFrame(8, {600, 700, 800, 85, 8, 10, 1});
    for (std::size_t piece : {1u, 4u, 36u})
        EXPECT_EQ(Frames(Cat({Tail(tricky, 30), block, block}), piece, true),
                  (std::vector<Bytes>{block, block}))
            << piece;
    EXPECT_EQ(Frames(Cat({Tail(tricky, 30), block}), 4), (std::vector<Bytes>{block}));

    // A reply cut short, the line quiet, then whole frames: they are found
    // again, and the short reply never glues onto the next one.
    const Bytes cutShort(block.begin(), block.begin() + 20);
    for (std::size_t piece : {1u, 4u, 36u}) {
        EXPECT_EQ(Frames({cutShort, Cat({measure, block})}, piece, true),
                  (std::vector<Bytes>{measure, block}))
            << piece;
        EXPECT_EQ(Frames({cutShort, Cat({Bytes(7, 0xEE), measure, block})}, piece, true),
                  (std::vector<Bytes>{measure, block}))
            << piece;
    }
}

TEST(FrameScan, AfterDroppedBytesAFrameWithAHeaderPatternInsideWaitsForEvidence) {
    // hysteresis 85 then polarity 1 make a header pattern in the data.
    const Bytes odd = MakeFrame(8, {600, 700, 800, 128, 10, 85, 1});
    const Bytes line = Cat({Bytes{0xEE}, odd});
    FrameScan s = ScanFrame(line.data(), static_cast<int32_t>(line.size()), 85, true, false);
    EXPECT_EQ(s.drop, 1);
    EXPECT_FALSE(s.found);
    EXPECT_TRUE(s.waiting);
    s = ScanFrame(line.data(), static_cast<int32_t>(line.size()), 85, true, true);
    EXPECT_TRUE(s.found);
    EXPECT_EQ(s.drop, 1);
    // The next header behind it bears it out; foreign bytes behind it do not.
    EXPECT_EQ(Frames(Cat({line, MakeFrame(8)}), 4), (std::vector<Bytes>{odd, MakeFrame(8)}));
    EXPECT_TRUE(Frames(Cat({line, Bytes(4, 0xEE)}), 41).empty());
}
