// Port set-up, the background receive notification and the line check.
#pragma once

#include <array>
#include <cstdint>

#include "com232/params.h"
#include "runtime/rtcore.h"

namespace orv {

constexpr double COM_TIMEOUT = 2.0;
constexpr int32_t NOTIFY_COUNT = 36;
// A line without a byte for this long has finished sending (a frame takes
// 18.75 ms on the wire; a USB adapter holds bytes back up to 16 ms).
constexpr double RX_QUIET = 0.05;
// Bytes received and not yet taken as a frame or dropped.
constexpr int32_t RX_HOLD = 256;

// Outcomes of ReadReply.
constexpr int RX_FRAME = 1;  // a whole frame is in szReadBuf
constexpr int RX_SHORT = 0;  // fewer than 36 bytes came by the time-out
constexpr int RX_JUNK = -1;  // 36 or more bytes came, none of them a frame

// Events for which the receive notification is installed (notify count
// reached; the port opened again after its device came back).
constexpr int32_t eventMask = 0x8006 | COM_EVT_REOPENED;

// The port in use (1 at start; the port ring changes it).
extern int32_t com;
// Counts returned by the last serial write and read.
extern int32_t nBytesW;
extern int32_t nBytesR;
// A complete reply has been decoded / a measurement awaits plotting.
extern int32_t rx_flag;
extern int32_t graphrefresh;
// Measured value, channel A and channel B of the last measurement reply.
extern std::array<uint16_t, RAWNUM> rawbuf;

// Opens `port` with the line's settings (19200 baud, 8N1, no handshake, the
// 2 s time-out) and empties both queues, without checking the line. `device`
// names the device; "" or nullptr takes the one that the port number maps to.
// Returns 0, or the negative open code, whose message it leaves in szStatus
// without showing it ("COM<n> <device> not connected" for a port number whose
// device is missing).
int OpenLine(int port, const char* device);
// Opens `port` (OpenLine), installs the receive notification, checks the line
// and shows the outcome (or the driver's message for a port that cannot be
// opened).
void InitRS232(int port);
// Sends an echo frame and shows the verdict on the reply. Returns 1 when the
// sensor answered with the echo word, 0 otherwise.
int CheckComLine(int port, int syncWord);
void RX_Receive_Function(int port, int events, void* data);
// Takes the whole frame in szReadBuf as a reply, as the receive notification
// does: decodes it, copies the raw values of a measurement and sets the flags.
void TakeReply();
// Message for a negative open result.
const char* ComErrorText(int code);

// Empties the input queue of `port`, bytes already received but not yet
// framed included; the next byte is taken as the start of a frame.
void FlushRxQueue(int port);
// FlushRxQueue, then the output queue.
void FlushBothQueues(int port);
// Reads replies directly (without the notification) until a whole frame is
// in szReadBuf or `deadline` (on Timer()'s clock) has passed. Bytes that
// cannot belong to a frame are dropped. Returns RX_FRAME, RX_SHORT or
// RX_JUNK; nBytesR holds 36 for a frame, otherwise the bytes that came.
int ReadReply(int port, double deadline);
// Takes a frame that only waited for the line to go quiet; called by the
// loops that wait on the notification.
void ServiceRx();
// Status text for a write that did not send all 36 bytes (`written` is the
// count or the negative code ComWrt returned).
const char* WriteFailureText(int32_t written);

}  // namespace orv
