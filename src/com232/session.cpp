// The sensor's commands on a line that the caller waits on directly, and the
// sequences that the window's commands share with them.
#include "com232/session.h"

#include <algorithm>

#include "com232/frame.h"
#include "com232/report.h"
#include "com232/rs232.h"
#include "runtime/rtcore.h"

namespace orv {

namespace {

// A measurement request already on the line, sent on when the reply before it
// was whole (MeasureOnce).
uint32_t measureAhead = 0;

int32_t ReadOrder(int32_t target) {
    return target == EEPROM ? ORD_READ_EEPROM : ORD_READ_RAM;
}

void CopyBlock(const int32_t* from, int32_t* to) {
    for (int32_t k = 0; k < PNUM; ++k)
        to[k] = from[k];
}

}  // namespace

bool SendBlock(int port, int32_t target) {
    sync = SYNC_DEFAULT;
    WriteRequest(port, target == EEPROM ? ORD_WRITE_EEPROM : ORD_WRITE_RAM, pp.data());
    if (nBytesW != FRAME_LEN)
        return false;
    ShowStatus("Transmit Ok!");
    return true;
}

int TeachSequence(int port) {
    CopyVarsToPP();
    const uint32_t teach = WriteRequest(port, ORD_TEACH, pp.data());
    if (nBytesW == FRAME_LEN)
        ShowStatus("Line Ok!");
    CopyVarsToPP();
    const uint32_t read = WriteRequest(port, ORD_READ_RAM, pp.data());
    if (nBytesW == FRAME_LEN)
        ShowStatus("Line Ok!");
    WatchLine(port, TEACH_PAUSE);
    // The first whole frame after the two requests is the block, whatever its
    // order word; a second one (a sensor that answers the teach as well) goes
    // to the notification. Replies to other requests (a running scope's) are
    // the notification's too.
    const uint32_t first = teach != 0 ? teach : read;
    const uint32_t last = read != 0 ? read : teach;
    if (AwaitReply(port, first, last, Timer() + COM_TIMEOUT, false) == RX_FRAME) {
        GetRxBuf(PNUM);
        CopyPPtoVars();
        return SESSION_OK;
    }
    ShowStatus("< 36 Bytes!");
    return SESSION_FAILED;
}

uint32_t SendMeasureRequest(int port) {
    CopyVarsToPP();
    FlushBothQueues(port);
    return WriteRequest(port, ORD_MEASURE, pp.data());
}

int ReadBlock(int port, int32_t target, int32_t* block) {
    ShowStatus("Receive...");
    // The request carries the variables as they stand; the sensor ignores them.
    CopyVarsToPP();
    FlushBothQueues(port);
    rx_flag = 0;
    const uint32_t seq = WriteRequest(port, ReadOrder(target), pp.data());
    if (nBytesW == FRAME_LEN)
        ShowStatus("Transmit Ok!");
    if (AwaitReply(port, seq, seq, Timer() + REPLY_TIMEOUT, false) != RX_FRAME) {
        ShowStatus("Timeout RS232-Line!");
        return SESSION_FAILED;
    }
    TakeReply();
    CopyPPtoVars();
    CopyBlock(pp.data(), block);
    return SESSION_OK;
}

int WriteBlock(int port, int32_t target, const int32_t* block) {
    ShowStatus("Transmit...");
    // Through the variables, as the window's Send takes them: each slot keeps
    // its low 16 bits.
    CopyBlock(block, pp.data());
    CopyPPtoVars();
    CopyVarsToPP();
    return SendBlock(port, target) ? SESSION_OK : SESSION_FAILED;
}

int WriteBlockVerified(int port, int32_t target, const int32_t* block, int32_t* readBack) {
    if (WriteBlock(port, target, block) != SESSION_OK)
        return SESSION_FAILED;
    std::array<int32_t, PNUM> sent{};
    CopyBlock(pp.data(), sent.data());
    WatchLine(port, WRITE_SETTLE);
    if (ReadBlock(port, target, readBack) != SESSION_OK)
        return SESSION_FAILED;
    for (int32_t k = 0; k < PNUM; ++k) {
        if (readBack[k] != sent[k]) {
            ShowStatusF("Read-back error - %s sent %ld, read %ld!", SlotName(k), static_cast<long>(sent[k]),
                        static_cast<long>(readBack[k]));
            return SESSION_MISMATCH;
        }
    }
    ShowStatus("Read-back Ok!");
    return SESSION_OK;
}

int TeachReference(int port, int32_t* block) {
    ShowStatus("Teach new Reference-Value ...");
    if (TeachSequence(port) != SESSION_OK)
        return SESSION_FAILED;
    CopyBlock(pp.data(), block);
    return SESSION_OK;
}

int MeasureOnce(int port, uint16_t* raw) {
    // One request stays on the line: the next one goes out as soon as a reply
    // is whole, while the line still confirms that reply.
    uint32_t seq = measureAhead;
    measureAhead = 0;
    if (seq == 0 || !RequestPending(seq))
        seq = SendMeasureRequest(port);
    rx_flag = 0;
    const double deadline = Timer() + REPLY_TIMEOUT;
    int r = AwaitReply(port, seq, seq, deadline, true);
    if (r == RX_FRAME) {
        std::array<char, FRAME_LEN> frame{};
        std::copy_n(szReadBuf.begin(), FRAME_LEN, frame.begin());
        measureAhead = SendMeasureRequest(port);
        r = ConfirmReply(port, seq, Timer() + COM_TIMEOUT);
        std::copy_n(frame.begin(), FRAME_LEN, szReadBuf.begin());
    }
    if (r != RX_FRAME) {
        ShowStatus("Timeout RS232-Line!");
        GiveUpReply(seq);
        GiveUpReply(measureAhead);
        measureAhead = 0;
        rx_flag = 0;
        FlushBothQueues(port);
        return SESSION_FAILED;
    }
    rx_answer = seq;
    TakeReply();
    for (int32_t k = 0; k < RAWNUM; ++k)
        raw[k] = rawbuf[k];
    return SESSION_OK;
}

}  // namespace orv
