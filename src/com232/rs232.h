// Port set-up, the background receive notification and the line check.
#pragma once

#include <array>
#include <cstdint>

#include "com232/params.h"
#include "runtime/rtcore.h"

namespace orv {

constexpr double COM_TIMEOUT = 2.0;
// The notification runs for every byte that comes, so that each is judged as
// it arrives (see framer.h).
constexpr int32_t NOTIFY_COUNT = 1;

// Outcomes of AwaitReply.
constexpr int RX_FRAME = 1;  // a whole frame is in szReadBuf
constexpr int RX_SHORT = 0;  // no whole reply came by the deadline
constexpr int RX_JUNK = -1;  // what came for the request was dropped: it did not divide into frames

// Events for which the receive notification is installed (bytes waiting; the
// port opened again after its device came back).
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
// The number of the request that the last frame taken answers.
extern uint32_t rx_answer;

// Opens `port` with the line's settings (19200 baud, 8N1, no handshake, the
// 2 s time-out) and empties both queues, without checking the line. `device`
// names the device; "" or nullptr takes the one that the port number maps to.
// Returns 0, or the negative open code, whose message it leaves in szStatus
// without showing it.
int OpenLine(int port, const char* device);
// Opens `port` (OpenLine), installs the receive notification, checks the line
// and shows the outcome (or the driver's message for a port that cannot be
// opened).
void InitRS232(int port);
// Sends an echo frame and shows the verdict on the reply. Returns 1 when the
// sensor answered with the echo word, 0 otherwise.
int CheckComLine(int port, int syncWord);
void RX_Receive_Function(int port, int events, void* data);
// Takes the frame in szReadBuf as a reply, as the receive notification does:
// decodes it, copies the raw values of a measurement and sets the flags.
void TakeReply();
// Message for a negative open result.
const char* ComErrorText(int code);

// Encodes `orderCode` with values[0..15] (FillTxBuf) and writes the frame to
// `port`; the count goes to nBytesW. Returns the request's number, by which
// its reply is found, or 0 when nothing went out.
uint32_t WriteRequest(int port, int32_t orderCode, const int32_t* values);
// Waits `seconds` without processing events, as Delay does, while reading
// what comes on `port` as it comes, so that the framer knows when each byte
// arrived (a reply read after a blind wait could not be told from one glued
// to the bytes before it).
void WatchLine(int port, double seconds);
// Reads from `port` until the reply to one of the requests `first`..`last`
// is whole (RX_FRAME, the frame in szReadBuf and rx_answer its request), it
// was dropped (RX_JUNK), or `deadline` (on Timer()'s clock) has passed
// (RX_SHORT; the requests are given up, so that their late replies never
// answer a later command). With `held`, a reply is returned as soon as it is
// whole, before the line has confirmed it; ReplyDropped tells later whether it
// stood. Frames for other requests are taken as the notification takes them.
// nBytesR holds 36 for a frame, otherwise the bytes that came.
int AwaitReply(int port, uint32_t first, uint32_t last, double deadline, bool held);
// Waits until the line has confirmed or dropped the reply to request `seq`
// that AwaitReply returned while it was held: RX_FRAME when it stood, RX_JUNK
// when it was dropped, RX_SHORT when `deadline` came first.
int ConfirmReply(int port, uint32_t seq, double deadline);
// True once the reply to request `seq` is whole (the line may still drop it).
bool ReplyArrived(uint32_t seq);
// True while the reply to request `seq` may still be taken: it may still
// come, or it is whole and not yet taken.
bool RequestPending(uint32_t seq);
// True while the reply to request `seq` is whole but not yet taken (held
// until the line confirms it, or confirmed and waiting for the notification).
bool ReplyWaiting(uint32_t seq);
// True when the reply to request `seq` was dropped as ambiguous.
bool ReplyDropped(uint32_t seq);
// The command of request `seq` stops waiting for its reply.
void GiveUpReply(uint32_t seq);

// Empties the input queue of `port` after judging what it holds: noise is
// dropped; a late reply on its way is cut off with the rest of its burst; a
// reply on its way to a request still waiting, and whole replies, stay.
void FlushRxQueue(int port);
// FlushRxQueue, then the output queue.
void FlushBothQueues(int port);
// Reads what waits on `com`, judges it and hands one confirmed frame to the
// notification; called by the loops that wait on the notification.
void ServiceRx();

}  // namespace orv
