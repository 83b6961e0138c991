// Port set-up, the background receive notification and the line check.
//
// Everything arriving on the line is untrusted. Received bytes are judged by
// the framer (framer.h) as they come: replies are found by their length and
// time and attributed to the requests they answer; noise, bytes that do not
// divide into whole frames and late replies are dropped and written to the
// line log, and never reach the decoder.
#include "com232/rs232.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "com232/frame.h"
#include "com232/framer.h"
#include "com232/report.h"
#include "runtime/rtcore.h"

namespace orv {

int32_t com = 1;
int32_t nBytesW = 0;
int32_t nBytesR = 0;
int32_t rx_flag = 1;
int32_t graphrefresh = 0;
std::array<uint16_t, RAWNUM> rawbuf{};
uint32_t rx_answer = 0;

namespace {

constexpr long BAUD_RATE = 19200;
constexpr int PARITY_NONE = 0;
constexpr int DATA_BITS = 8;
constexpr int STOP_BITS = 1;
constexpr int QUEUE_SIZE = 4096;
constexpr int32_t ECHO_WORD = 170;  // 0xAA: the sensor's answer to an echo frame
constexpr double REPLY_PAUSE = 0.05;
constexpr int READ_CHUNK = 256;

// The line in use: the bytes received and not yet framed, the requests open.
RxLine rxline;

static_assert(LINE_REPLY == RXV_REPLY && LINE_NOTIFIED == RXV_UNASKED && LINE_LATE == RXV_LATE &&
              LINE_NOISE == RXV_NOISE && LINE_AMBIGUOUS == RXV_AMBIGUOUS && LINE_CUT == RXV_CUT);

// Writes the framer's verdicts to the line log.
void LogNotes(int port) {
    RxNote n;
    while (RxTakeNote(rxline, &n))
        LineLogVerdict(port, n.verdict, reinterpret_cast<const char*>(n.bytes.data()), n.count, n.seq);
}

// Reads everything waiting on `port` into the framer; returns the byte count.
int32_t Pull(int port) {
    std::array<char, READ_CHUNK> buf{};
    int32_t total = 0;
    for (int waiting = GetInQLen(port); waiting > 0; waiting = GetInQLen(port)) {
        const int got = ComRd(port, buf.data(), std::min(waiting, READ_CHUNK));
        if (got <= 0)
            break;
        RxBytes(rxline, reinterpret_cast<const uint8_t*>(buf.data()), got, Timer());
        total += got;
    }
    return total;
}

// Puts a frame taken off the line into szReadBuf.
void Accept(int port, const RxFrame& f) {
    std::memcpy(szReadBuf.data(), f.bytes.data(), FRAME_LEN);
    nBytesR = FRAME_LEN;
    rx_answer = f.seq;
    LineLogVerdict(port, f.verdict, szReadBuf.data(), FRAME_LEN, f.seq);
}

void Wake(void*);

// Asks to be called again when time alone can decide what the held bytes are.
void ArmWake() {
    const double at = RxNextDecision(rxline);
    if (rxline.outCount > 0)
        ScheduleCallback(0, Wake, nullptr);
    else if (at >= 0)
        ScheduleCallback(std::max(0.0, at - Timer()) + 0.001, Wake, nullptr);
}

void Wake(void*) {
    ServiceRx();
}

// Hands the oldest confirmed frame, if any, to the notification.
void DeliverOne(int port) {
    RxFrame f;
    if (RxTake(rxline, &f)) {
        Accept(port, f);
        TakeReply();
    }
}

}  // namespace

const char* ComErrorText(int code) {
    switch (code) {
        case COM_ERR_UNKNOWN_SYSTEM:
            return "Unknown system error";
        case COM_ERR_INVALID_PORT:
            return "Invalid port number";
        case COM_ERR_NOT_OPEN:
            return "Port is not open";
        case COM_ERR_IO:
            return "Unknown I/0 error";
        case COM_ERR_GENERAL:
            return "RS-232 error!";
        case COM_ERR_NO_PORT:
            return "No serial port found";
        case COM_ERR_CANNOT_OPEN:
            return "Cannot open port";
        case COM_ERR_TIMEOUT:
            return "Timeout";
        default:
            return "RS-232 error!";
    }
}

int OpenLine(int port, const char* device) {
    const int ret = OpenComConfig(port, device != nullptr ? device : "", BAUD_RATE, PARITY_NONE, DATA_BITS,
                                  STOP_BITS, QUEUE_SIZE, QUEUE_SIZE);
    // A new line: nothing sent on the old one is answered on it.
    RxReset(rxline);
    if (ret < 0) {
        // The open code's own message; which device was looked for is in the
        // line log and on the Port ring's entry.
        SetStatusText(ComErrorText(ret));
        return ret;
    }
    SetComTime(port, COM_TIMEOUT);
    FlushRxQueue(port);
    FlushOutQ(port);
    SetCTSMode(port, 0);
    return 0;
}

void InitRS232(int port) {
    if (OpenLine(port, "") >= 0) {
        InstallComCallback(port, eventMask, NOTIFY_COUNT, sync, RX_Receive_Function, nullptr);
        CheckComLine(port, sync);
    }
    ShowStatus(szStatus.data());
}

int CheckComLine(int port, int /*syncWord: the frame carries `sync`*/) {
    CopyVarsToPP();
    const uint32_t seq = WriteRequest(port, ORD_ECHO, pp.data());
    WatchLine(port, REPLY_PAUSE);
    const int r = AwaitReply(port, seq, seq, Timer() + COM_TIMEOUT, false);
    int ok = 0;
    if (r == RX_FRAME) {
        // The reply is judged by its echo word alone and not decoded.
        ok = FrameWord(szReadBuf, 0) == ECHO_WORD ? 1 : 0;
        SetStatusText(ok != 0 ? "Echo Check - Line Ok!" : "read error - not sync byte 0xAA!");
    } else if (r == RX_JUNK) {
        // Something answered, but nothing that divides into frames.
        SetStatusText("read error - not sync byte 0xAA!");
    } else {
        SetStatusText("Timeout < 36 Bytes");
    }
    ShowStatus(szStatus.data());
    return ok;
}

void RX_Receive_Function(int port, int events, void* /*data*/) {
    if ((events & COM_EVT_REOPENED) != 0 && port == com) {
        // The device came back and the runtime opened the port again. What
        // was half received belongs to the lost line; the line is not checked
        // here (this may run nested inside a command's wait): the next
        // command, or a pick in the Port ring, does that.
        FlushBothQueues(port);
        RxReset(rxline);
        ShowStatusF("COM%d reopened - %s", port, ComPortDevice(port));
    }
    if ((events & COM_EVT_RXCOUNT) == 0)
        return;
    // The bytes are read from the port in use, `com`.
    ServiceRx();
}

void TakeReply() {
    GetRxBuf(PNUM);
    ShowStatus("Line Ok!");
    if (order == ORD_MEASURE) {
        for (int32_t k = 0; k < RAWNUM; ++k)
            rawbuf[k] = static_cast<uint16_t>(static_cast<uint32_t>(pp[k]) & 0xFFFFu);
    }
    rx_flag = 1;
    graphrefresh = 1;
}

namespace {

// Looks at `port`: reads what has come, then tells the framer that the line
// was looked at now. Returns the bytes read.
int32_t Look(int port) {
    const int32_t got = Pull(port);
    RxTick(rxline, Timer());
    LogNotes(port);
    return got;
}

// Blocks until a byte comes, `until` passes, or time alone can decide what
// the held bytes are; then looks. Returns the bytes read, or -1 when the port
// failed.
int32_t WaitAndLook(int port, double until) {
    const double now = Timer();
    const double decide = RxNextDecision(rxline);
    if (decide >= 0)
        until = std::min(until, decide + 0.0005);
    std::array<char, 1> first{};
    // At least a millisecond, the finest time-out the port takes: a wait
    // that rounds to nothing would never let time pass.
    SetComTime(port, std::max(0.001, until - now));
    const int got = ComRd(port, first.data(), 1);
    SetComTime(port, COM_TIMEOUT);
    if (got < 0)
        return -1;
    if (got > 0)
        RxBytes(rxline, reinterpret_cast<const uint8_t*>(first.data()), got, Timer());
    return got + Look(port);
}

}  // namespace

uint32_t WriteRequest(int port, int32_t orderCode, const int32_t* values) {
    // Bytes waiting already cannot answer this request: they are judged
    // before it goes out, however late they are read.
    Look(port);
    FillTxBuf(orderCode, values);
    // Taken before the write: a reply cannot begin before the request has
    // been on the wire, whenever the write returns.
    const double sentAt = Timer();
    nBytesW = ComWrt(port, szWriteBuf.data(), FRAME_LEN);
    if (nBytesW <= 0)
        return 0;  // nothing went out: nothing can answer
    const uint32_t seq = RxRequest(rxline, orderCode, sentAt);
    LineLogVerdict(port, LINE_REQUEST, szWriteBuf.data(), nBytesW, seq);
    return seq;
}

void WatchLine(int port, double seconds) {
    const double end = Timer() + std::max(0.0, seconds);
    Look(port);
    while (Timer() < end) {
        if (WaitAndLook(port, end) < 0) {
            Delay(end - Timer());  // the port failed: only the wait is left
            return;
        }
    }
}

int AwaitReply(int port, uint32_t first, uint32_t last, double deadline, bool held) {
    auto mine = [first, last](uint32_t seq) { return seq != 0 && seq >= first && seq <= last; };
    int32_t came = Look(port);
    for (;;) {
        RxFrame f;
        while (RxTake(rxline, &f)) {
            Accept(port, f);
            if (mine(f.seq))
                return RX_FRAME;
            // Another request's reply (the live scope's): the notification's.
            TakeReply();
        }
        for (uint32_t seq = first; seq != 0 && seq <= last; ++seq) {
            if (held) {
                if (const RxFrame* h = RxHeld(rxline, seq)) {
                    std::memcpy(szReadBuf.data(), h->bytes.data(), FRAME_LEN);
                    nBytesR = FRAME_LEN;
                    rx_answer = seq;
                    RxClaimHeld(rxline, seq);
                    return RX_FRAME;
                }
            }
            if (RxDropped(rxline, seq)) {
                nBytesR = std::max(came, FRAME_LEN);
                return RX_JUNK;
            }
        }
        const int32_t got = Timer() < deadline && first != 0 ? WaitAndLook(port, deadline) : -1;
        if (got < 0) {
            // The deadline has passed, nothing could answer, or the port
            // failed: a reply that comes after this answers nothing later.
            for (uint32_t seq = first; seq != 0 && seq <= last; ++seq)
                RxGiveUp(rxline, seq, Timer());
            nBytesR = came;
            return RX_SHORT;
        }
        came += got;
    }
}

int ConfirmReply(int port, uint32_t seq, double deadline) {
    Look(port);
    for (;;) {
        if (RxDropped(rxline, seq))
            return RX_JUNK;
        if (RxHeld(rxline, seq) == nullptr)
            return RX_FRAME;
        if (Timer() >= deadline || WaitAndLook(port, deadline) < 0)
            return RX_SHORT;
    }
}

bool ReplyArrived(uint32_t seq) {
    return RxAnswered(rxline, seq);
}

bool RequestPending(uint32_t seq) {
    return RxOpen(rxline, seq) || RxAnswered(rxline, seq);
}

bool ReplyWaiting(uint32_t seq) {
    if (RxHeld(rxline, seq) != nullptr)
        return true;
    for (int32_t i = 0; i < rxline.outCount; ++i) {
        if (rxline.out[i].seq == seq)
            return true;
    }
    return false;
}

bool ReplyDropped(uint32_t seq) {
    return RxDropped(rxline, seq);
}

void GiveUpReply(uint32_t seq) {
    RxGiveUp(rxline, seq, Timer());
}

void FlushRxQueue(int port) {
    // What has come is judged first: bytes trailing a frame make it ambiguous
    // even when a flush follows at once.
    Pull(port);
    RxFlush(rxline, Timer());
    FlushInQ(port);
    LogNotes(port);
}

void FlushBothQueues(int port) {
    FlushRxQueue(port);
    FlushOutQ(port);
}

void ServiceRx() {
    Pull(com);
    RxTick(rxline, Timer());
    LogNotes(com);
    DeliverOne(com);
    ArmWake();
}

}  // namespace orv
