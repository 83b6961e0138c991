// Finding replies among received bytes by length and time (see framer.h).
#include "com232/framer.h"

#include <algorithm>

namespace orv {

namespace {

// Takes the first of the `count` items of a queue kept in a fixed array.
template <class T, std::size_t N>
bool PopFront(std::array<T, N>& items, int32_t& count, T* first) {
    if (count == 0)
        return false;
    *first = items[0];
    std::move(items.begin() + 1, items.begin() + count, items.begin());
    --count;
    return true;
}

void Note(RxLine& l, const RxNote& n) {
    if (l.noteCount == RX_NOTES) {
        ++l.notesLost;
        return;
    }
    l.notes[l.noteCount++] = n;
}

void NoteFrame(RxLine& l, int32_t verdict, const RxFrame& f) {
    RxNote n;
    n.verdict = verdict;
    n.seq = f.seq;
    n.count = FRAME_LEN;
    n.bytes = f.bytes;
    Note(l, n);
}

void Remember(std::array<uint32_t, RX_RECENT>& ring, int32_t& at, uint32_t seq) {
    ring[at] = seq;
    at = (at + 1) % RX_RECENT;
}

bool Recent(const std::array<uint32_t, RX_RECENT>& ring, uint32_t seq) {
    return seq != 0 && std::find(ring.begin(), ring.end(), seq) != ring.end();
}

// Adds dropped bytes to the note of the tainted burst (the first 36 kept).
void TaintBytes(RxLine& l, const uint8_t* b, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        if (l.taintNote.count < FRAME_LEN)
            l.taintNote.bytes[l.taintNote.count] = b[i];
        ++l.taintNote.count;
    }
}

void FreeExpired(RxLine& l, double now) {
    for (RxSlot& s : l.slots) {
        if (s.seq != 0 && !s.claimed && now >= s.until)
            s = RxSlot{};
    }
}

// The request a frame starting at `now` answers: the oldest one expecting a
// reply, else the oldest that may be answered; -1 when none can be.
int32_t UsableSlot(RxLine& l, double now) {
    FreeExpired(l, now);
    int32_t best = -1;
    for (int pass = 0; pass < 2 && best < 0; ++pass) {
        const bool owed = pass == 0;
        for (int32_t i = 0; i < RX_SLOTS; ++i) {
            const RxSlot& s = l.slots[i];
            if (s.seq == 0 || s.claimed || s.owed != owed || now < s.sentAt + REPLY_TURN)
                continue;
            if (best < 0 || s.seq < l.slots[best].seq)
                best = i;
        }
    }
    return best;
}

RxSlot* FindSlot(RxLine& l, uint32_t seq) {
    for (RxSlot& s : l.slots) {
        if (s.seq != 0 && s.seq == seq)
            return &s;
    }
    return nullptr;
}

void ReleasePartial(RxLine& l) {
    if (l.partialSlot >= 0)
        l.slots[l.partialSlot].claimed = false;
    l.partialSlot = -1;
    l.partialAlt = 0;
    l.partialLen = 0;
}

// The oldest request that expects a reply, has not been given up and can be
// answered at `now`; 0 when none.
uint32_t OpenOwed(const RxLine& l, double now) {
    uint32_t best = 0;
    for (const RxSlot& s : l.slots) {
        if (s.seq != 0 && s.owed && !s.givenUp && !s.claimed && now >= s.sentAt + REPLY_TURN &&
            (best == 0 || s.seq < best))
            best = s.seq;
    }
    return best;
}

void Out(RxLine& l, const RxFrame& f) {
    if (l.outCount == RX_OUT) {
        // Nobody takes the frames: the oldest goes.
        std::move(l.out.begin() + 1, l.out.end(), l.out.begin());
        --l.outCount;
    }
    l.out[l.outCount++] = f;
}

void DropLate(RxLine& l, const RxFrame& f, double now) {
    NoteFrame(l, RXV_LATE, f);
    l.lastLateAt = now;
}

// Decides the frames that answer a request given up or a newer one.
void Decide(RxLine& l, double now) {
    int32_t kept = 0;
    for (int32_t i = 0; i < l.undecidedCount; ++i) {
        RxFrame f = l.undecided[i];
        RxSlot* alt = FindSlot(l, f.alt);
        if (alt == nullptr || alt->claimed || alt->givenUp) {
            // The newer request got a frame of its own (or no longer waits):
            // this one was the late reply.
            DropLate(l, f, now);
        } else if (now >= f.decideAt) {
            // Nothing followed: the request given up was never answered, and
            // neither will the ones before the newer request be.
            f.seq = alt->seq;
            f.verdict = RXV_REPLY;
            f.alt = 0;
            Remember(l.completed, l.completedAt, f.seq);
            *alt = RxSlot{};
            for (RxSlot& s : l.slots) {
                if (s.seq != 0 && s.givenUp && !s.claimed && s.seq < f.seq)
                    s = RxSlot{};
            }
            Out(l, f);
        } else {
            l.undecided[kept++] = f;
        }
    }
    l.undecidedCount = kept;
}

// The rest of the burst belongs to no frame: whole frames held so far and the
// partial frame are dropped with it.
void Taint(RxLine& l, int32_t kind) {
    if (l.taint != 0)
        return;
    l.taint = kind;
    l.taintNote = RxNote{};
    l.taintNote.verdict = kind;
    for (int32_t i = 0; i < l.pendingCount; ++i) {
        NoteFrame(l, RXV_AMBIGUOUS, l.pending[i]);
        Remember(l.dropped, l.droppedAt, l.pending[i].seq);
    }
    l.pendingCount = 0;
    if (l.partialLen > 0) {
        // The request the partial frame was taken to answer will get no
        // reply out of this burst: its command fails rather than guesses.
        if (l.partialSlot >= 0) {
            Remember(l.dropped, l.droppedAt, l.slots[l.partialSlot].seq);
            l.slots[l.partialSlot] = RxSlot{};
            l.partialSlot = -1;
        }
        TaintBytes(l, l.partial.data(), l.partialLen);
        l.partialLen = 0;
    }
}

// The held frames are whole and nothing belongs to them: they are confirmed.
void Confirm(RxLine& l, double now) {
    for (int32_t i = 0; i < l.pendingCount; ++i) {
        const RxFrame& f = l.pending[i];
        if (f.alt != 0) {
            if (l.undecidedCount == static_cast<int32_t>(l.undecided.size())) {
                DropLate(l, l.undecided[0], now);
                l.undecided[0] = l.undecided[1];
                --l.undecidedCount;
            }
            l.undecided[l.undecidedCount++] = f;
            continue;
        }
        if (f.verdict == RXV_LATE) {
            DropLate(l, f, now);
            continue;
        }
        if (f.claimed) {
            NoteFrame(l, f.verdict, f);  // its command has it already
            continue;
        }
        Out(l, f);
    }
    l.pendingCount = 0;
    Decide(l, now);
}

// Drops the partial frame (noted as cut short); its request stays open.
void CutPartial(RxLine& l) {
    RxNote n;
    n.verdict = RXV_CUT;
    n.count = l.partialLen;
    std::copy_n(l.partial.begin(), l.partialLen, n.bytes.begin());
    Note(l, n);
    ReleasePartial(l);
}

// Drops the start of a frame kept from an earlier burst (noted as cut short).
void CutStall(RxLine& l) {
    if (l.stallLen == 0)
        return;
    RxNote n;
    n.verdict = RXV_CUT;
    n.seq = l.stallSeq;
    n.count = l.stallLen;
    std::copy_n(l.stall.begin(), l.stallLen, n.bytes.begin());
    Note(l, n);
    l.stallLen = 0;
    l.stallSeq = 0;
}

// The partial frame becomes a whole one held in the burst.
void CompletePartial(RxLine& l, double now) {
    RxSlot& s = l.slots[l.partialSlot];
    RxFrame& f = l.pending[l.pendingCount++];
    f.bytes = l.partial;
    f.seq = s.seq;
    f.verdict = !s.owed ? RXV_UNASKED : s.givenUp ? RXV_LATE : RXV_REPLY;
    f.claimed = false;
    f.alt = l.partialAlt;
    f.decideAt = now + LATE_HOLD;
    Remember(l.completed, l.completedAt, s.seq);
    s = RxSlot{};
    l.partialSlot = -1;
    l.partialAlt = 0;
    l.partialLen = 0;
}

// Cuts bytes into frames for the requests open at `now`.
void Feed(RxLine& l, const uint8_t* b, int32_t n, double now) {
    for (int32_t i = 0; i < n; ++i) {
        if (l.taint != 0) {
            TaintBytes(l, b + i, n - i);
            break;
        }
        if (l.partialLen == 0) {
            const int32_t s = UsableSlot(l, now);
            if (s < 0) {
                // Nothing open can explain this byte: noise on its own, or
                // bytes trailing frames, which make the burst ambiguous.
                Taint(l, l.pendingCount > 0 ? RXV_AMBIGUOUS : RXV_NOISE);
                TaintBytes(l, b + i, n - i);
                break;
            }
            if (l.pendingCount == RX_PENDING) {
                Taint(l, RXV_AMBIGUOUS);
                TaintBytes(l, b + i, n - i);
                break;
            }
            l.slots[s].claimed = true;
            l.partialSlot = s;
            l.partialAlt = l.slots[s].givenUp ? OpenOwed(l, now) : 0;
        }
        l.partial[l.partialLen++] = b[i];
        if (l.partialLen == FRAME_LEN)
            CompletePartial(l, now);
    }
}

// A burst that began while a frame's start was kept is held back whole until
// it shows whether it begins with that frame's rest (Resolve ends the start).
bool Holding(const RxLine& l) {
    return l.burst && l.stallLen > 0;
}

// The burst after a frame's start was held back whole: when the start and
// the burst divide into whole frames, the burst begins with the rest of that
// frame; otherwise the start was a stray one and the burst stands alone.
void Resolve(RxLine& l, double now) {
    RxSlot* s = FindSlot(l, l.stallSeq);
    if ((l.stallLen + l.holdLen) % FRAME_LEN == 0 && s != nullptr && !s->claimed) {
        s->claimed = true;
        l.partialSlot = static_cast<int32_t>(s - l.slots.data());
        l.partialAlt = s->givenUp ? OpenOwed(l, now) : 0;
        l.partial = l.stall;
        l.partialLen = l.stallLen;
        l.stallLen = 0;
        l.stallSeq = 0;
    } else {
        CutStall(l);
    }
    Feed(l, l.hold.data(), l.holdLen, now);
    l.holdLen = 0;
}

void EndBurst(RxLine& l, double now) {
    if (Holding(l))
        Resolve(l, l.lastByteAt);
    if (l.taint == 0 && l.partialLen > 0 && l.pendingCount > 0)
        Taint(l, RXV_AMBIGUOUS);
    if (l.taint != 0) {
        if (l.taintNote.count > 0)
            Note(l, l.taintNote);
    } else if (l.partialLen > 0) {
        // The rest of the frame may still come in the next burst; its
        // request stays free to be answered by a whole frame meanwhile.
        std::copy_n(l.partial.begin(), l.partialLen, l.stall.begin());
        l.stallLen = l.partialLen;
        l.stallSeq = l.slots[l.partialSlot].seq;
        l.stallAt = now;
    } else {
        Confirm(l, now);
    }
    l.burst = false;
    l.taint = 0;
    l.taintNote = RxNote{};
    l.pendingCount = 0;
    ReleasePartial(l);
}

}  // namespace

bool ExpectsReply(int32_t orderCode) {
    switch (orderCode) {
        case ORD_READ_RAM:
        case ORD_READ_EEPROM:
        case ORD_ECHO:
        case ORD_MEASURE:
        case ORD_FLASH_ADDRESS:
        case ORD_FLASH_DATA:
            return true;
        default:
            return false;
    }
}

void RxReset(RxLine& line) {
    line = RxLine{};
}

uint32_t RxRequest(RxLine& l, int32_t orderCode, double now) {
    FreeExpired(l, now);
    // Noise that came before the request can be no part of its reply: it
    // ends here, however late the line is looked at again.
    if (l.burst && l.taint == RXV_NOISE)
        EndBurst(l, now);
    // The oldest request goes when all are taken: a sensor that answers
    // nothing must not keep newer requests from being answered.
    int32_t free = -1;
    for (int32_t i = 0; i < RX_SLOTS; ++i) {
        if (l.slots[i].seq == 0) {
            free = i;
            break;
        }
        if (!l.slots[i].claimed && (free < 0 || l.slots[i].seq < l.slots[free].seq))
            free = i;
    }
    if (free < 0)
        free = 0;
    if (l.partialSlot == free)
        ReleasePartial(l);
    RxSlot& s = l.slots[free];
    s = RxSlot{};
    s.seq = l.nextSeq++;
    if (l.nextSeq == 0)
        l.nextSeq = 1;
    s.sentAt = now;
    s.until = now + REPLY_LIFE;
    s.owed = ExpectsReply(orderCode);
    if (l.requestSinceByte < 0)
        l.requestSinceByte = now;
    return s.seq;
}

void RxBytes(RxLine& l, const uint8_t* b, int32_t n, double now) {
    if (n <= 0)
        return;
    // The bytes came at some moment since the line was last looked at: a
    // burst ends only when a look found it quiet (RxTick), never because the
    // bytes were read late.
    l.burst = true;
    int32_t fed = 0;
    while (Holding(l) && fed < n) {
        // Held until the burst shows whether it begins with a frame's rest.
        l.hold[l.holdLen++] = b[fed++];
        if (l.holdLen == RX_HOLD)
            Resolve(l, now);
    }
    Feed(l, b + fed, n - fed, now);
    l.lastByteAt = now;
    l.requestSinceByte = -1;
}

void RxTick(RxLine& l, double now) {
    Decide(l, now);
    if (!l.burst && l.stallLen > 0 && now >= l.stallAt + RX_STALL)
        CutStall(l);
    if (!l.burst)
        return;
    if (now - l.lastByteAt >= RX_GAP) {
        EndBurst(l, now);
        return;
    }
    // A request written after the last byte has had time to be answered and
    // nothing came: whatever came before it is whole.
    if (l.taint == 0 && l.partialLen == 0 && l.pendingCount > 0 && l.requestSinceByte >= 0 &&
        now >= l.requestSinceByte + REPLY_TURN)
        Confirm(l, now);
}

void RxFlush(RxLine& l, double now) {
    RxTick(l, now);
    if (Holding(l))
        Resolve(l, now);
    // The rest of a frame cut short by the line is no longer expected once
    // its command has given up.
    if (const RxSlot* s = FindSlot(l, l.stallSeq); l.stallLen > 0 && (s == nullptr || s->givenUp))
        CutStall(l);
    // A reply on its way to a request still waiting is no stale input: it is
    // left whole, since a flush that cut it would turn its rest, and the
    // replies right behind it, into bytes that divide into no frames. Only
    // a late reply on its way is cut.
    if (l.partialLen == 0 || l.taint != 0 || l.partialSlot < 0 || !l.slots[l.partialSlot].givenUp)
        return;
    // Whole frames before it were followed by the start of a reply, not by
    // bytes that nothing explains: they stand.
    Confirm(l, now);
    CutPartial(l);
    // The rest of the cut frame may still come: it belongs to nothing.
    l.taint = RXV_AMBIGUOUS;
    l.taintNote = RxNote{};
    l.taintNote.verdict = RXV_AMBIGUOUS;
}

void RxGiveUp(RxLine& l, uint32_t seq, double now) {
    RxSlot* s = FindSlot(l, seq);
    if (s == nullptr || !s->owed)
        return;
    if (l.lastLateAt > s->sentAt && !s->claimed) {
        // A late reply to an earlier request was dropped after this one went
        // out: from a sensor that answers in order, that was most likely this
        // request's answer. Expecting yet another would starve the next command.
        *s = RxSlot{};
        return;
    }
    s->givenUp = true;
    s->until = now + LATE_LIFE;
}

bool RxTake(RxLine& l, RxFrame* frame) {
    return PopFront(l.out, l.outCount, frame);
}

const RxFrame* RxHeld(const RxLine& l, uint32_t seq) {
    for (int32_t i = 0; i < l.pendingCount; ++i) {
        if (l.pending[i].seq == seq)
            return &l.pending[i];
    }
    return nullptr;
}

void RxClaimHeld(RxLine& l, uint32_t seq) {
    for (int32_t i = 0; i < l.pendingCount; ++i) {
        if (l.pending[i].seq == seq)
            l.pending[i].claimed = true;
    }
}

bool RxAnswered(const RxLine& l, uint32_t seq) {
    return Recent(l.completed, seq) && !Recent(l.dropped, seq);
}

bool RxDropped(const RxLine& l, uint32_t seq) {
    return Recent(l.dropped, seq);
}

bool RxOpen(const RxLine& l, uint32_t seq) {
    for (const RxSlot& s : l.slots) {
        if (s.seq != 0 && s.seq == seq)
            return !s.givenUp;
    }
    return false;
}

double RxNextDecision(const RxLine& l) {
    double next = -1;
    auto sooner = [&next](double t) { next = next < 0 ? t : std::min(next, t); };
    for (int32_t i = 0; i < l.undecidedCount; ++i)
        sooner(l.undecided[i].decideAt);
    if (!l.burst) {
        if (l.stallLen > 0)
            sooner(l.stallAt + RX_STALL);
        return next;
    }
    sooner(l.lastByteAt + RX_GAP);
    if (l.taint == 0 && l.partialLen == 0 && l.pendingCount > 0 && l.requestSinceByte >= 0)
        sooner(l.requestSinceByte + REPLY_TURN);
    return next;
}

bool RxTakeNote(RxLine& l, RxNote* note) {
    return PopFront(l.notes, l.noteCount, note);
}

}  // namespace orv
