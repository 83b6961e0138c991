// The sensor's commands on a line that the caller waits on directly.
#include "com232/session.h"

#include "com232/frame.h"
#include "com232/report.h"
#include "com232/rs232.h"
#include "runtime/rtcore.h"

namespace orv {

namespace {

constexpr double TEACH_PAUSE = 0.05;

// Encodes `orderCode` with the block `pp` and writes the frame; shows `ok`
// when all 36 bytes went out, otherwise why not.
bool SendFrame(int port, int32_t orderCode, const char* ok) {
    FillTxBuf(orderCode, pp.data());
    nBytesW = ComWrt(port, szWriteBuf.data(), FRAME_LEN);
    if (nBytesW == FRAME_LEN) {
        ShowStatus(ok);
        return true;
    }
    ShowStatus(WriteFailureText(nBytesW));
    return false;
}

// Reads replies until one with the order word `wanted` is in szReadBuf
// (RX_FRAME) or `deadline` has passed. Other frames, and noise, are passed
// over as the window's wait passes them over; a port that fails ends the wait
// at once (RX_SHORT).
int AwaitReply(int port, int32_t wanted, double deadline) {
    for (;;) {
        const int r = ReadReply(port, deadline);
        if (r == RX_FRAME && ReplyOrder() == wanted)
            return RX_FRAME;
        if (r == RX_SHORT || Timer() >= deadline)
            return r == RX_FRAME ? RX_JUNK : r;
    }
}

int32_t ReadOrder(int32_t target) {
    return target == EEPROM ? ORD_READ_EEPROM : ORD_READ_RAM;
}

void CopyBlock(const int32_t* from, int32_t* to) {
    for (int32_t k = 0; k < PNUM; ++k)
        to[k] = from[k];
}

}  // namespace

int ReadBlock(int port, int32_t target, int32_t* block) {
    const int32_t asked = ReadOrder(target);
    ShowStatus("Receive...");
    // The request carries the variables as they stand; the sensor ignores them.
    CopyVarsToPP();
    FlushBothQueues(port);
    rx_flag = 0;
    if (!SendFrame(port, asked, "Transmit Ok!"))
        return SESSION_FAILED;
    if (AwaitReply(port, asked, Timer() + REPLY_TIMEOUT) != RX_FRAME) {
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
    sync = SYNC_DEFAULT;
    // Through the variables, as the window's Send takes them: each slot keeps
    // its low 16 bits.
    CopyBlock(block, pp.data());
    CopyPPtoVars();
    CopyVarsToPP();
    return SendFrame(port, target == EEPROM ? ORD_WRITE_EEPROM : ORD_WRITE_RAM, "Transmit Ok!")
               ? SESSION_OK
               : SESSION_FAILED;
}

int WriteBlockVerified(int port, int32_t target, const int32_t* block, int32_t* readBack) {
    if (WriteBlock(port, target, block) != SESSION_OK)
        return SESSION_FAILED;
    std::array<int32_t, PNUM> sent{};
    CopyBlock(pp.data(), sent.data());
    Delay(WRITE_SETTLE);
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
    // No reply is outstanding: whatever waits is left over from an earlier
    // exchange and would shift the block read below.
    FlushRxQueue(port);
    CopyVarsToPP();
    if (!SendFrame(port, ORD_TEACH, "Line Ok!"))
        return SESSION_FAILED;
    CopyVarsToPP();
    if (!SendFrame(port, ORD_READ_RAM, "Line Ok!"))
        return SESSION_FAILED;

    Delay(TEACH_PAUSE);
    const double deadline = Timer() + COM_TIMEOUT;
    int r = ReadReply(port, deadline);
    // A late answer to an earlier measurement request is not the block.
    while (r == RX_FRAME && ReplyOrder() == ORD_MEASURE)
        r = ReadReply(port, deadline);
    if (r == RX_FRAME && ReplyOrder() == ORD_READ_RAM) {
        GetRxBuf(PNUM);
        CopyPPtoVars();
        CopyBlock(pp.data(), block);
        return SESSION_OK;
    }
    ShowStatus(r != RX_SHORT ? "read error - not a parameter block!" : "< 36 Bytes!");
    return SESSION_FAILED;
}

int MeasureOnce(int port, uint16_t* raw) {
    CopyVarsToPP();
    FillTxBuf(ORD_MEASURE, pp.data());
    FlushBothQueues(port);
    rx_flag = 0;
    // A request that did not go out is noticed as the scope notices it: no
    // reply comes.
    nBytesW = ComWrt(port, szWriteBuf.data(), FRAME_LEN);
    if (nBytesW != FRAME_LEN || AwaitReply(port, ORD_MEASURE, Timer() + REPLY_TIMEOUT) != RX_FRAME) {
        ShowStatus("Timeout RS232-Line!");
        rx_flag = 0;
        FlushBothQueues(port);
        return SESSION_FAILED;
    }
    TakeReply();
    for (int32_t k = 0; k < RAWNUM; ++k)
        raw[k] = rawbuf[k];
    return SESSION_OK;
}

}  // namespace orv
