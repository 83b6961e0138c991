// How received bytes become replies. A reply is found by its length and by
// time alone: 36 bytes counted from the first byte that can answer a request,
// however the line splits them. Neither the sync word nor the order word is
// read, so a sensor may put anything there.
//
// Bytes come in bursts: bytes less than RX_GAP apart belong to one burst. A
// frame left unfinished by its burst is joined to the next burst when that
// burst begins with its rest, and dropped otherwise. A request can be answered from REPLY_TURN after it was
// written (the sensor must have received it first). A byte that can start no reply, because no request is
// open, is noise. The frames of a burst are held until the line shows that nothing more belongs to them: the
// line goes quiet for RX_GAP, or a request written after them has had REPLY_TURN to be answered without a
// byte in between. A burst that does not divide into whole frames for the
// requests open (a torn start glued to a reply, bytes trailing it) is
// ambiguous: all of it is dropped, never guessed at. A frame held back can
// still tell its command that it is whole, so that a polling loop sends its
// next request at once.
//
// Every request is numbered. A frame answers the oldest open request that
// expects a reply, else the oldest that may be answered (a write). A request
// whose command gave up (its time-out) keeps its place for LATE_LIFE: a late
// reply then answers it and is dropped, and never answers a later command.
// When a newer request could have been answered by the same frame, the frame
// is held for LATE_HOLD: a sensor answering in order sends the newer reply
// right behind the late one, and then the first is dropped as late; when no
// second frame comes, the old request was never answered (a sensor that was
// off), and the frame answers the newer one, so that such a sensor does not
// starve the next command.
//
// Pure: state in, state out, times in seconds on any steady clock.
#pragma once

#include <array>
#include <cstdint>

#include "com232/frame.h"

namespace orv {

// One byte on the line: start bit, 8 data bits, stop bit at 19200 baud.
constexpr double CHAR_TIME = 10.0 / 19200.0;
// Bytes closer together than this belong to one burst: a few character times,
// plus the 16 ms for which a USB adapter at its default setting holds bytes.
constexpr double RX_GAP = 4 * CHAR_TIME + 0.016;
// The earliest a reply can begin after its request was handed to the line:
// the request needs 36 character times (18.75 ms) on the wire before the
// sensor has it. A little less, so that a clock read late never matters.
constexpr double REPLY_TURN = 0.015;
// How long an open request may be answered at all.
constexpr double REPLY_LIFE = 4.0;
// How long after its command gave up a request's late reply is still expected.
constexpr double LATE_LIFE = 10.0;
// How long a frame that answers either a request given up or a newer one
// waits for a second frame to decide which.
constexpr double LATE_HOLD = 0.25;
// How long the start of a frame that stopped on a quiet line is kept: the
// rest may still come (a busy host, an adapter that held it back).
constexpr double RX_STALL = 0.5;

constexpr int32_t RX_SLOTS = 8;                      // requests remembered
constexpr int32_t RX_PENDING = 4;                    // whole frames held until the line confirms them
constexpr int32_t RX_OUT = 4;                        // frames confirmed and not yet taken
constexpr int32_t RX_NOTES = 16;                     // verdicts not yet written to the line log
constexpr int32_t RX_RECENT = 8;                     // requests whose frame came, or was dropped
constexpr int32_t RX_HOLD = FRAME_LEN * RX_PENDING;  // bytes held after a frame's start

// What became of received bytes.
constexpr int32_t RXV_REPLY = 1;      // a frame answering a request that expects a reply
constexpr int32_t RXV_UNASKED = 2;    // a frame answering a request that expects none
constexpr int32_t RXV_LATE = 3;       // a frame answering a request given up: dropped
constexpr int32_t RXV_NOISE = 4;      // bytes that no open request can explain: dropped
constexpr int32_t RXV_AMBIGUOUS = 5;  // bytes that do not divide into whole frames: dropped
constexpr int32_t RXV_CUT = 6;        // part of a frame cut short (quiet line, flush): dropped

struct RxSlot {
    uint32_t seq = 0;  // 0: free
    double sentAt = 0;
    double until = 0;      // forgotten after this
    bool owed = false;     // a reply is expected (otherwise one may come)
    bool givenUp = false;  // its command stopped waiting
    bool claimed = false;  // a frame under way answers it
};

struct RxFrame {
    std::array<uint8_t, FRAME_LEN> bytes{};
    uint32_t seq = 0;  // the request it answers
    int32_t verdict = 0;
    bool claimed = false;  // its command took it while it was held: not handed out again
    uint32_t alt = 0;      // a newer request this frame may answer instead (seq is given up)
    double decideAt = 0;   // alt: when, without a second frame, it answers alt
};

// A verdict for the line log: the bytes concerned (the first 36 of them) and
// how many there were.
struct RxNote {
    int32_t verdict = 0;
    uint32_t seq = 0;
    int32_t count = 0;
    std::array<uint8_t, FRAME_LEN> bytes{};
};

struct RxLine {
    std::array<RxSlot, RX_SLOTS> slots{};
    uint32_t nextSeq = 1;

    // The burst under way.
    bool burst = false;
    double lastByteAt = 0;
    double requestSinceByte = -1;  // when the first request after the last byte went out; -1: none
    std::array<uint8_t, FRAME_LEN> partial{};
    int32_t partialLen = 0;
    int32_t partialSlot = -1;
    uint32_t partialAlt = 0;
    std::array<RxFrame, RX_PENDING> pending{};
    int32_t pendingCount = 0;

    int32_t taint = 0;  // RXV_NOISE or RXV_AMBIGUOUS: the rest of the burst is dropped
    RxNote taintNote{};

    // The start of a frame whose burst ended before it was whole. The next
    // burst is held until it ends: when it begins with the rest of that
    // frame (start and burst divide into whole frames), the two are joined;
    // otherwise the start is dropped, so that a stray start never shifts
    // what follows.
    std::array<uint8_t, FRAME_LEN> stall{};
    int32_t stallLen = 0;
    uint32_t stallSeq = 0;
    double stallAt = 0;
    std::array<uint8_t, RX_HOLD> hold{};  // the burst held meanwhile
    int32_t holdLen = 0;

    double lastLateAt = -1e300;          // when a late frame was last dropped
    std::array<RxFrame, 2> undecided{};  // late, or the reply to a newer request?
    int32_t undecidedCount = 0;

    std::array<RxFrame, RX_OUT> out{};
    int32_t outCount = 0;
    std::array<RxNote, RX_NOTES> notes{};
    int32_t noteCount = 0;
    int32_t notesLost = 0;
    std::array<uint32_t, RX_RECENT> completed{};  // requests whose frame came whole
    std::array<uint32_t, RX_RECENT> dropped{};    // requests whose frame was dropped as ambiguous
    int32_t completedAt = 0, droppedAt = 0;
};

// True for the order codes whose requests expect a reply.
bool ExpectsReply(int32_t orderCode);

// Forgets everything: a new line.
void RxReset(RxLine& line);
// A request with `orderCode` handed to the line at `now`; returns its number.
uint32_t RxRequest(RxLine& line, int32_t orderCode, double now);
// Bytes read from the line at `now`: they came since it was last looked at.
void RxBytes(RxLine& line, const uint8_t* bytes, int32_t count, double now);
// The line was looked at, at `now`, and nothing more had come: a burst may
// have ended, held frames be confirmed.
void RxTick(RxLine& line, double now);
// The input queue is emptied. What has come is judged already, so only a
// late reply on its way is cut off (the rest of its burst is dropped); a
// reply on its way to a request still waiting, and whole frames, stay.
void RxFlush(RxLine& line, double now);
// The command of request `seq` stops waiting at `now`.
void RxGiveUp(RxLine& line, uint32_t seq, double now);

// Takes the oldest confirmed frame; false when there is none.
bool RxTake(RxLine& line, RxFrame* frame);
// The frame of request `seq` if it is whole but still held back.
const RxFrame* RxHeld(const RxLine& line, uint32_t seq);
// The held frame of request `seq` is taken by its command: once confirmed it
// is not handed out again.
void RxClaimHeld(RxLine& line, uint32_t seq);
// True once a whole frame for request `seq` has come (held, confirmed or taken).
bool RxAnswered(const RxLine& line, uint32_t seq);
// True when the frame for request `seq` was dropped as ambiguous.
bool RxDropped(const RxLine& line, uint32_t seq);
// True while request `seq` may still be answered.
bool RxOpen(const RxLine& line, uint32_t seq);
// When RxTick can next change something (a burst ending, a held frame
// confirmed); a value below 0 when nothing waits for time.
double RxNextDecision(const RxLine& line);
// Takes the oldest verdict for the line log; false when there is none.
bool RxTakeNote(RxLine& line, RxNote* note);

}  // namespace orv
