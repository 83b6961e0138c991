// Port set-up, the background receive notification and the line check.
//
// Everything arriving on the line is untrusted. Received bytes collect in a
// fixed holding buffer, where frames are found by their header and length
// (ScanFrame): a frame torn by a flush or by the line, or noise between
// frames, never shifts the receive side out of step for good, and bytes that
// cannot be a frame are dropped without ever reaching the decoder.
#include "com232/rs232.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "com232/frame.h"
#include "com232/report.h"
#include "runtime/rtcore.h"

namespace orv {

int32_t com = 1;
int32_t nBytesW = 0;
int32_t nBytesR = 0;
int32_t rx_flag = 1;
int32_t graphrefresh = 0;
std::array<uint16_t, RAWNUM> rawbuf{};

namespace {

constexpr long BAUD_RATE = 19200;
constexpr int PARITY_NONE = 0;
constexpr int DATA_BITS = 8;
constexpr int STOP_BITS = 1;
constexpr int QUEUE_SIZE = 4096;
constexpr int32_t ECHO_WORD = 170;  // 0xAA: the sensor's answer to an echo frame
constexpr double REPLY_PAUSE = 0.05;

// The holding buffer: bytes received from `com` and not yet framed.
std::array<char, RX_HOLD> rxhold{};
int32_t rxheld = 0;
bool rxInStep = true;        // the held bytes begin where the last frame ended
bool rxWaiting = false;      // a whole candidate waits for more bytes or a quiet line
int32_t rxNeed = FRAME_LEN;  // bytes still to come before the next decision
double rxLastByte = 0;       // Timer() when bytes last came

const uint8_t* Held() {
    return reinterpret_cast<const uint8_t*>(rxhold.data());
}

// Takes the next frame out of the held bytes into szReadBuf, dropping what
// cannot belong to a frame. True when a frame was taken.
bool NextFrame(bool quiet) {
    const FrameScan s = ScanFrame(Held(), rxheld, sync, rxInStep, quiet);
    int32_t used = s.drop;
    if (s.found) {
        std::memcpy(szReadBuf.data(), rxhold.data() + s.drop, FRAME_LEN);
        used += FRAME_LEN;
    }
    rxInStep = s.inStep;
    std::memmove(rxhold.data(), rxhold.data() + used, static_cast<std::size_t>(rxheld - used));
    rxheld -= used;
    rxWaiting = !s.found && s.waiting;
    rxNeed = s.found ? 0 : s.need;
    return s.found;
}

// Moves up to `count` bytes into the holding buffer with one read; returns
// what ComRd returned.
int ReceiveInto(int port, int32_t count) {
    const int32_t room = RX_HOLD - rxheld;
    const int n = ComRd(port, rxhold.data() + rxheld, std::min(count, room));
    if (n > 0) {
        rxheld += n;
        rxLastByte = Timer();
    }
    return n;
}

// "COM3 /dev/ttyUSB1 not connected" into szStatus; a path too long for the
// status line is cut to its last part.
void NotConnectedText(int port, const char* device) {
    const int n = std::snprintf(szStatus.data(), szStatus.size(), "COM%d %s not connected", port, device);
    const char* slash = std::strrchr(device, '/');
    if (n >= static_cast<int>(szStatus.size()) && slash != nullptr)
        std::snprintf(szStatus.data(), szStatus.size(), "COM%d %s not connected", port, slash + 1);
}

// Hands every frame that the held bytes now hold to TakeReply.
void TakeHeldFrames() {
    while (NextFrame(false))
        TakeReply();
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

const char* WriteFailureText(int32_t written) {
    switch (written) {
        case COM_ERR_NOT_OPEN:
        case COM_ERR_INVALID_PORT:
            return ComErrorText(COM_ERR_NOT_OPEN);
        case COM_ERR_IO:
            return "Transmit error - line lost!";
        default:
            return "Transmit error - frame not sent!";
    }
}

int OpenLine(int port, const char* device) {
    const int ret = OpenComConfig(port, device != nullptr ? device : "", BAUD_RATE, PARITY_NONE, DATA_BITS,
                                  STOP_BITS, QUEUE_SIZE, QUEUE_SIZE);
    if (ret < 0) {
        const char* known = ComPortDevice(port);
        if (ret == COM_ERR_NO_PORT && (device == nullptr || *device == '\0') && known[0] != '\0' &&
            ComPortPresent(port) == 0)
            NotConnectedText(port, known);
        else
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
    FillTxBuf(ORD_ECHO, pp.data());
    nBytesW = ComWrt(port, szWriteBuf.data(), FRAME_LEN);
    Delay(REPLY_PAUSE);
    const int r = ReadReply(port, Timer() + COM_TIMEOUT);
    int ok = 0;
    if (r == RX_FRAME) {
        ok = FrameWord(szReadBuf, 0) == ECHO_WORD ? 1 : 0;
        SetStatusText(ok != 0 ? "Echo Check - Line Ok!" : "read error - not sync byte 0xAA!");
    } else if (r == RX_JUNK) {
        // Something answered, but nothing a sensor sends.
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
        ShowStatusF("COM%d reopened - %s", port, ComPortDevice(port));
    }
    if ((events & COM_EVT_RXCOUNT) == 0)
        return;
    // The bytes are read from the port in use, `com`, a holding buffer's worth
    // at a time, and every frame among them is taken in turn.
    for (int waiting = GetInQLen(com); waiting > 0; waiting = GetInQLen(com)) {
        if (ReceiveInto(com, waiting) <= 0)
            break;
        TakeHeldFrames();
    }
    // Notify again once the bytes still missing for a decision are there.
    InstallComCallback(com, eventMask, std::max<int32_t>(rxNeed, 1), sync, RX_Receive_Function, nullptr);
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

void FlushRxQueue(int port) {
    FlushInQ(port);
    rxheld = 0;
    rxInStep = true;
    rxWaiting = false;
    rxNeed = FRAME_LEN;
}

void FlushBothQueues(int port) {
    FlushRxQueue(port);
    FlushOutQ(port);
}

int ReadReply(int port, double deadline) {
    int32_t seen = rxheld;  // bytes that came for this reply
    bool quiet = false;     // no byte came during the last wait
    for (;;) {
        if (NextFrame(quiet)) {
            nBytesR = FRAME_LEN;
            return RX_FRAME;
        }
        const double left = deadline - Timer();
        if (quiet || left <= 0) {
            // At the deadline the line is taken as quiet: a candidate that
            // waited for that is taken, an unfinished frame was cut short.
            if (!quiet && NextFrame(true)) {
                nBytesR = FRAME_LEN;
                return RX_FRAME;
            }
            nBytesR = seen;
            return seen >= FRAME_LEN ? RX_JUNK : RX_SHORT;
        }
        // Once a whole candidate waits, or a frame's worth of bytes has come
        // without a frame among them, a quiet line decides: wait only that
        // long for more.
        const bool quietDecides = rxWaiting || seen >= FRAME_LEN;
        SetComTime(port, quietDecides ? std::min(left, RX_QUIET) : left);
        const int n = ReceiveInto(port, std::max<int32_t>(rxNeed, 1));
        SetComTime(port, COM_TIMEOUT);
        if (n < 0) {
            nBytesR = seen;  // the port failed
            return RX_SHORT;
        }
        seen += n;
        quiet = n == 0;
    }
}

void ServiceRx() {
    if (rxheld == 0 || Timer() - rxLastByte < RX_QUIET)
        return;
    // The line has gone quiet behind the held bytes: a candidate that waited
    // for that is taken, and a frame left unfinished is a reply cut short.
    if (NextFrame(true)) {
        TakeReply();
        TakeHeldFrames();
    }
}

}  // namespace orv
