// The sensor's commands for a front end that waits on the line itself rather
// than on events: read or write a parameter block, teach, one measurement.
// Each writes its frame on an open line (OpenLine), reads the reply directly
// with a deadline (AwaitReply) and tells the operator what happened through
// the report, with the same texts and time-outs as the window's commands.
// The program-wide block `pp` and the parameter variables end up as the
// window's commands leave them.
#pragma once

#include <cstdint>

#include "com232/params.h"
#include "com232/rs232.h"

namespace orv {

// Time-out for the reply to a block request or a measurement request: the
// window's 26 ticks of 50 ms.
constexpr double REPLY_TIMEOUT = 26 * 0.05;
// Wait between writing a block and reading it back, so that a sensor still
// storing it (EEPROM) does not miss the request.
constexpr double WRITE_SETTLE = 0.05;
// Wait between the teach requests and the read of the block.
constexpr double TEACH_PAUSE = 0.05;

// Outcomes of the operations below. A failure has been shown on the report.
constexpr int SESSION_OK = 0;
constexpr int SESSION_FAILED = -1;    // a frame not sent, no reply, a wrong reply
constexpr int SESSION_MISMATCH = -2;  // the block read back differs from the one written

// The sequences that the window's commands and the ones below share.
//
// Send's frame: `sync` back to 85, the block `pp` written to `target` (RAM or
// EEPROM; order 3 for EEPROM, else 1). Shows "Transmit Ok!" and returns true
// when all 36 bytes went out; otherwise shows nothing. No reply is awaited: a
// frame the sensor sends back goes to the notification.
bool SendBlock(int port, int32_t target);
// Teach: the order-6 frame and the order-2 frame with the variables, back to
// back ("Line Ok!" for each that went out whole), the pause, then the first
// whole frame that answers either, whatever its order word, decoded into
// `pp`, `sync`, `order` and the variables. "< 36 Bytes!" when none came within
// the 2 s time-out: nothing reaches the block or the variables.
int TeachSequence(int port);
// The measurement request: the variables into `pp`, both queues flushed, the
// order-8 frame written. Returns its request number (0: nothing went out).
uint32_t SendMeasureRequest(int port);

// Reads the block of `target` (RAM or EEPROM; anything else reads RAM) into
// block[0..15] and the parameter variables: the reply to its request, whatever
// its order word. Without it after REPLY_TIMEOUT it shows "Timeout
// RS232-Line!" and leaves `block` as it was.
int ReadBlock(int port, int32_t target, int32_t* block);
// Shows "Transmit...", puts block[0..15] through the variables and sends it
// (SendBlock). The sensor sends no reply to it.
int WriteBlock(int port, int32_t target, const int32_t* block);
// WriteBlock, then reads the block back from the same target: SESSION_OK with
// "Read-back Ok!" when it equals what was written, SESSION_MISMATCH when a
// word differs (the first such is named), SESSION_FAILED when the write or
// the read failed. `readBack` receives the block read back.
int WriteBlockVerified(int port, int32_t target, const int32_t* block, int32_t* readBack);
// Shows "Teach new Reference-Value ...", then TeachSequence; the block the
// sensor returned goes to block[0..15].
int TeachReference(int port, int32_t* block);
// One measurement: waits up to REPLY_TIMEOUT for the reply to the request on
// the line (sending one first when none is), sends the next request as soon
// as the reply is whole, so that the line is never idle between samples, and
// takes the reply as the window's receive notification does (rawbuf, "Line
// Ok!") once the line has confirmed it. raw[0..2] receive the measured value
// and the two channel readings. On a time-out it shows "Timeout RS232-Line!"
// and empties both queues.
int MeasureOnce(int port, uint16_t* raw);

}  // namespace orv
