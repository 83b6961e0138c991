// Finding replies by length and time: any sync or order word, any pieces;
// noise, torn starts and trailing bytes never become a reply; a late reply
// never answers a later request.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "com232/frame.h"
#include "com232/framer.h"

using namespace orv;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr double MS = 0.001;

Bytes Reply(uint16_t sync, uint16_t orderWord, uint16_t word0) {
    Bytes f(FRAME_LEN, 0);
    f[0] = static_cast<uint8_t>(sync >> 8);
    f[1] = static_cast<uint8_t>(sync & 0xFF);
    f[2] = static_cast<uint8_t>(orderWord >> 8);
    f[3] = static_cast<uint8_t>(orderWord & 0xFF);
    f[4] = static_cast<uint8_t>(word0 >> 8);
    f[5] = static_cast<uint8_t>(word0 & 0xFF);
    return f;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A line driven on a clock of its own.
struct Line {
    RxLine rx;
    double now = 100.0;

    Line() { RxReset(rx); }
    uint32_t Request(int32_t orderCode) { return RxRequest(rx, orderCode, now); }
    void Wait(double seconds) {
        now += seconds;
        RxTick(rx, now);
    }
    // The bytes arrive `piece` at a time, one character time apart per byte.
    void Send(const Bytes& b, std::size_t piece = FRAME_LEN) {
        for (std::size_t at = 0; at < b.size(); at += piece) {
            const std::size_t n = std::min(piece, b.size() - at);
            now += n * CHAR_TIME;
            RxBytes(rx, b.data() + at, static_cast<int32_t>(n), now);
        }
    }
    std::vector<RxFrame> Taken() {
        std::vector<RxFrame> out;
        RxFrame f;
        while (RxTake(rx, &f))
            out.push_back(f);
        return out;
    }
    std::vector<int32_t> Verdicts() {
        std::vector<int32_t> out;
        RxNote n;
        while (RxTakeNote(rx, &n))
            out.push_back(n.verdict);
        return out;
    }
};

}  // namespace

TEST(Framer, RepliesWithAnySyncOrOrderWordInAnyPiecesAnswerTheirRequest) {
    for (std::size_t piece : {1u, 4u, 36u}) {
        Line l;
        const uint32_t seq = l.Request(ORD_READ_RAM);
        l.Wait(20 * MS);
        l.Send(Reply(0x1234, 0, 500), piece);
        // Whole, but held until the line shows nothing trails it.
        EXPECT_TRUE(RxAnswered(l.rx, seq));
        ASSERT_NE(RxHeld(l.rx, seq), nullptr);
        EXPECT_TRUE(l.Taken().empty());
        l.Wait(RX_GAP);
        const auto taken = l.Taken();
        ASSERT_EQ(taken.size(), 1u) << piece;
        EXPECT_EQ(taken[0].seq, seq);
        EXPECT_EQ(taken[0].verdict, RXV_REPLY);
        EXPECT_EQ(taken[0].bytes[0], 0x12);
        EXPECT_FALSE(RxOpen(l.rx, seq));
    }
}

TEST(Framer, NoiseNeverBecomesAReply) {
    Line l;
    // An idle line: nothing is open, so nothing is a reply, not even a frame.
    l.Send(Reply(0x0055, 2, 500));
    l.Wait(RX_GAP);
    EXPECT_TRUE(l.Taken().empty());
    EXPECT_EQ(l.Verdicts(), (std::vector<int32_t>{RXV_NOISE}));

    // Bytes before a request could be answered, then the reply within the
    // same burst: dropped, and the command times out rather than guesses.
    const uint32_t seq = l.Request(ORD_READ_RAM);
    l.Send(Bytes(3, 0xEE));
    l.Wait(14 * MS);
    l.Send(Reply(0x0055, 2, 500), 1);
    l.Wait(RX_GAP);
    EXPECT_TRUE(l.Taken().empty());
    EXPECT_TRUE(RxOpen(l.rx, seq));

    // After a quiet gap the reply stands on its own.
    l.Send(Reply(0x0055, 2, 500));
    l.Wait(RX_GAP);
    ASSERT_EQ(l.Taken().size(), 1u);
}

TEST(Framer, TornStartsAndTrailingBytesAreAmbiguousAndNeverShiftAFrame) {
    const Bytes reply = Reply(0x0055, 4, 500);
    const Bytes torn = {0x00, 0x55, 0x00, 0x04, 0x01, 0xF4, 0x00, 0x01};
    for (const Bytes& burst : {Cat({torn, reply}), Cat({reply, torn}), Cat({Bytes(4, 0x00), reply})}) {
        for (std::size_t piece : {1u, 8u, 44u}) {
            Line l;
            const uint32_t seq = l.Request(ORD_READ_EEPROM);
            l.Wait(20 * MS);
            l.Send(burst, piece);
            l.Wait(RX_GAP);
            EXPECT_TRUE(l.Taken().empty()) << piece;
            EXPECT_TRUE(RxDropped(l.rx, seq)) << piece;
            EXPECT_FALSE(RxAnswered(l.rx, seq)) << piece;
        }
    }

    // Part of a frame, then a quiet line: dropped alone, and the whole reply
    // after it is taken.
    Line l;
    const uint32_t seq = l.Request(ORD_READ_RAM);
    l.Wait(20 * MS);
    l.Send(torn);
    l.Wait(RX_GAP);
    l.Send(reply, 4);
    l.Wait(RX_GAP);
    const auto taken = l.Taken();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].seq, seq);
    EXPECT_EQ(l.Verdicts(), (std::vector<int32_t>{RXV_CUT}));

    // A reply that pauses past the gap (a busy host, an adapter holding the
    // rest back) is one frame when the next burst is exactly its rest.
    const uint32_t paused = l.Request(ORD_MEASURE);
    l.Wait(20 * MS);
    l.Send(Bytes(reply.begin(), reply.begin() + 8));
    l.Wait(3 * RX_GAP);
    EXPECT_TRUE(l.Taken().empty());
    l.Send(Bytes(reply.begin() + 8, reply.end()), 4);
    l.Wait(RX_GAP);
    const auto joined = l.Taken();
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].seq, paused);
    EXPECT_EQ(Bytes(joined[0].bytes.begin(), joined[0].bytes.end()), reply);
    EXPECT_TRUE(l.Verdicts().empty());

    // Its rest may come with the reply to a request written meanwhile.
    const uint32_t first = l.Request(ORD_MEASURE);
    l.Wait(20 * MS);
    l.Send(Bytes(reply.begin(), reply.begin() + 24));
    l.Wait(3 * RX_GAP);
    const uint32_t second = l.Request(ORD_READ_RAM);
    l.Wait(20 * MS);
    l.Send(Cat({Bytes(reply.begin() + 24, reply.end()), Reply(0x1234, 2, 700)}), 4);
    l.Wait(RX_GAP);
    const auto both = l.Taken();
    ASSERT_EQ(both.size(), 2u);
    EXPECT_EQ(both[0].seq, first);
    EXPECT_EQ(Bytes(both[0].bytes.begin(), both[0].bytes.end()), reply);
    EXPECT_EQ(both[1].seq, second);
    EXPECT_TRUE(l.Verdicts().empty());

    // A start whose rest never comes is dropped once it cannot be a reply's.
    const uint32_t abandoned = l.Request(ORD_MEASURE);
    l.Wait(20 * MS);
    l.Send(torn);
    l.Wait(RX_GAP);
    EXPECT_GE(RxNextDecision(l.rx), 0);
    l.Wait(RX_STALL);
    EXPECT_EQ(l.Verdicts(), (std::vector<int32_t>{RXV_CUT}));
    EXPECT_TRUE(RxOpen(l.rx, abandoned));
}

TEST(Framer, APollingLoopSendsOnAtOnceAndATornTailStillDropsTheFrame) {
    const Bytes reply = Reply(0x0055, 8, 600);
    // The next request goes out as soon as the reply is whole; the reply is
    // confirmed once that request could have been answered without a byte.
    Line l;
    const uint32_t first = l.Request(ORD_MEASURE);
    l.Wait(20 * MS);
    l.Send(reply, 4);
    ASSERT_TRUE(RxAnswered(l.rx, first));
    const uint32_t second = l.Request(ORD_MEASURE);
    l.Wait(REPLY_TURN);
    ASSERT_EQ(l.Taken().size(), 1u);
    l.Wait(5 * MS);
    l.Send(reply, 4);
    EXPECT_TRUE(RxAnswered(l.rx, second));

    // Eight bytes trailing the reply, after the next request went out but
    // before it could be answered: the reply they trail is dropped.
    Line t;
    const uint32_t a = t.Request(ORD_MEASURE);
    t.Wait(20 * MS);
    t.Send(Cat({Bytes{0x00, 0x55, 0x00, 0x08, 0x02, 0x58, 0x00, 0x01}, reply}), 4);
    t.Request(ORD_MEASURE);
    t.Wait(2 * MS);
    EXPECT_TRUE(t.Taken().empty());
    EXPECT_TRUE(RxDropped(t.rx, a));
}

TEST(Framer, ALateReplyAnswersItsOwnRequestAndNeverALaterOne) {
    const Bytes old = Reply(0x0055, 2, 512), fresh = Reply(0x0055, 2, 700);
    Line l;
    const uint32_t first = l.Request(ORD_READ_RAM);
    l.Wait(1.3);
    RxGiveUp(l.rx, first, l.now);
    const uint32_t second = l.Request(ORD_READ_RAM);
    l.Wait(0.9);
    l.Send(old);  // 2.2 s late
    l.Wait(5 * MS);
    l.Send(fresh);
    l.Wait(RX_GAP);
    const auto taken = l.Taken();
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].seq, second);
    EXPECT_EQ(taken[0].bytes[5], 700 & 0xFF);
    EXPECT_EQ(l.Verdicts(), (std::vector<int32_t>{RXV_LATE}));

    // A sensor that was off never answers the request given up: with no
    // second frame behind it, the one reply answers the newer request.
    Line s;
    const uint32_t lost = s.Request(ORD_READ_RAM);
    s.Wait(1.3);
    RxGiveUp(s.rx, lost, s.now);
    const uint32_t next = s.Request(ORD_READ_RAM);
    s.Wait(20 * MS);
    s.Send(fresh);
    s.Wait(RX_GAP);
    EXPECT_TRUE(s.Taken().empty());
    EXPECT_FALSE(RxAnswered(s.rx, next));
    s.Wait(LATE_HOLD);
    const auto again = s.Taken();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].seq, next);

    // Forgotten after a while: a reply much later is noise.
    Line f;
    const uint32_t gone = f.Request(ORD_MEASURE);
    f.Wait(1.3);
    RxGiveUp(f.rx, gone, f.now);
    f.Wait(LATE_LIFE + 0.1);
    f.Send(old);
    f.Wait(RX_GAP);
    EXPECT_EQ(f.Verdicts(), (std::vector<int32_t>{RXV_NOISE}));
}

TEST(Framer, TwoRepliesToTeachAndAFlushThatCutsAFrame) {
    // The block request's reply comes first in line for the frames; a second
    // frame (the sensor answering the teach too) is unasked.
    Line l;
    const uint32_t teach = l.Request(ORD_TEACH);
    const uint32_t read = l.Request(ORD_READ_RAM);
    l.Wait(20 * MS);
    l.Send(Cat({Reply(0x0055, 6, 600), Reply(0x0055, 2, 600)}), 4);
    l.Wait(RX_GAP);
    const auto taken = l.Taken();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].seq, read);
    EXPECT_EQ(taken[0].bytes[3], 6);
    EXPECT_EQ(taken[1].seq, teach);
    EXPECT_EQ(taken[1].verdict, RXV_UNASKED);

    // A flush in the middle of a reply to a request still waiting leaves it
    // whole; in the middle of a late reply, its rest never starts a frame.
    Line f;
    f.Request(ORD_MEASURE);
    const uint32_t read2 = f.Request(ORD_READ_RAM);
    f.Wait(20 * MS);
    const Bytes two = Cat({Reply(0x0055, 8, 600), Reply(0x0055, 2, 500)});
    f.Send(Bytes(two.begin(), two.begin() + 50), 4);
    RxFlush(f.rx, f.now);
    f.Send(Bytes(two.begin() + 50, two.end()), 4);
    f.Wait(RX_GAP);
    const auto kept = f.Taken();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[1].seq, read2);

    const uint32_t late = f.Request(ORD_READ_RAM);
    f.Wait(1.3);
    RxGiveUp(f.rx, late, f.now);
    f.Send(Bytes(two.begin() + 36, two.begin() + 50), 4);
    RxFlush(f.rx, f.now);
    const uint32_t next = f.Request(ORD_READ_RAM);
    f.Send(Bytes(two.begin() + 50, two.end()), 4);
    f.Wait(REPLY_TURN + RX_GAP);
    EXPECT_TRUE(f.Taken().empty());
    EXPECT_TRUE(RxOpen(f.rx, next));
}
