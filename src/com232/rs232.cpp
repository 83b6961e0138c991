// Port set-up, the background receive notification and the line check.
//
// Everything arriving on the line is untrusted: replies are read into the
// fixed receive buffer with fixed counts, and the decoder writes only inside
// the parameter block and `rawbuf`.
#include "com232/rs232.h"

#include "OrvanscopeV10/OrvanscopeV10.h"
#include "com232/frame.h"

namespace orv {

int32_t ret = 0;
int32_t eventMask = 0x8006;
int32_t rx_flag = 1;
int32_t graphrefresh = 0;
std::array<uint16_t, RAWNUM> rawbuf{};
int32_t rxval3 = 0;

namespace {

constexpr long BAUD_RATE = 19200;
constexpr int PARITY_NONE = 0;
constexpr int DATA_BITS = 8;
constexpr int STOP_BITS = 1;
constexpr int QUEUE_SIZE = 4096;
constexpr int32_t ECHO_WORD = 170;  // 0xAA: the sensor's answer to an echo frame
constexpr double REPLY_PAUSE = 0.05;

}  // namespace

const char* ComErrorText(int code) {
    switch (code) {
        case -1:
            return "Unknown system error";
        case -2:
            return "Invalid port number";
        case -3:
            return "Port is not open";
        case -4:
            return "Unknown I/0 error";
        case -5:
            return "RS-232 error!";
        case -6:
            return "No serial port found";
        case -7:
            return "Cannot open port";
        case -99:
            return "Timeout";
        default:
            return "RS-232 error!";
    }
}

void InitRS232(int port) {
    ret = OpenComConfig(port, "", BAUD_RATE, PARITY_NONE, DATA_BITS, STOP_BITS, QUEUE_SIZE, QUEUE_SIZE);
    if (ret >= 0) {
        SetComTime(port, COM_TIMEOUT);
        FlushInQ(port);
        FlushOutQ(port);
        SetCTSMode(port, 0);
        InstallComCallback(port, eventMask, NOTIFY_COUNT, sync, RX_Receive_Function, nullptr);
        CheckComLine(port, sync);
    } else {
        SetStatusText(ComErrorText(ret));
    }
    ShowStatus(szStatus.data());
}

void CheckComLine(int port, int /*syncWord: the frame carries `sync`*/) {
    CopyVarsToPP();
    FillTxBuf(ORD_ECHO, pp.data());
    nBytesW = ComWrt(port, szWriteBuf.data(), FRAME_LEN);
    Delay(REPLY_PAUSE);
    nBytesR = ComRd(port, szReadBuf.data(), FRAME_LEN);
    if (nBytesR != FRAME_LEN) {
        SetStatusText("Timeout < 36 Bytes");
    } else {
        rxval3 = FrameWord(szReadBuf, 0);
        SetStatusText(rxval3 == ECHO_WORD ? "Echo Check - Line Ok!" : "read error - not sync byte 0xAA!");
    }
    ShowStatus(szStatus.data());
}

void RX_Receive_Function(int /*port*/, int events, void* /*data*/) {
    if ((events & COM_EVT_RXCOUNT) == 0)
        return;
    // The reply is read from the port in use, `com`.
    const int n = ComRd(com, szReadBuf.data(), FRAME_LEN);
    if (n < FRAME_LEN)
        return;
    TakeReply();
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

}  // namespace orv
