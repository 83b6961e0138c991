// The sensor's commands for a front end that waits on the line itself rather
// than on events: read or write a parameter block, teach, one measurement.
// Each writes its frame on an open line (OpenLine), reads the reply directly
// with a deadline (ReadReply) and tells the operator what happened through
// the report, with the same texts and time-outs as the window's commands.
// The program-wide block `pp` and the parameter variables end up as the
// window's commands leave them.
#pragma once

#include <cstdint>

#include "com232/params.h"

namespace orv {

// Time-out for the reply to a block request or a measurement request: the
// window's 26 ticks of 50 ms.
constexpr double REPLY_TIMEOUT = 26 * 0.05;
// Wait between writing a block and reading it back, so that a sensor still
// storing it (EEPROM) does not miss the request.
constexpr double WRITE_SETTLE = 0.05;

// Outcomes of the operations below. A failure has been shown on the report.
constexpr int SESSION_OK = 0;
constexpr int SESSION_FAILED = -1;    // a frame not sent, no reply, a wrong reply
constexpr int SESSION_MISMATCH = -2;  // the block read back differs from the one written

// Reads the block of `target` (RAM or EEPROM; anything else reads RAM) into
// block[0..15] and the parameter variables. Replies with another order word
// are passed over; without the block after REPLY_TIMEOUT it shows "Timeout
// RS232-Line!" and leaves `block` as it was.
int ReadBlock(int port, int32_t target, int32_t* block);
// Writes block[0..15] to `target` (RAM or EEPROM) and shows "Transmit Ok!"
// or why the frame did not go out. The sensor sends no reply to it.
int WriteBlock(int port, int32_t target, const int32_t* block);
// WriteBlock, then reads the block back from the same target: SESSION_OK with
// "Read-back Ok!" when it equals what was written, SESSION_MISMATCH when a
// word differs (the first such is named), SESSION_FAILED when the write or
// the read failed. `readBack` receives the block read back.
int WriteBlockVerified(int port, int32_t target, const int32_t* block, int32_t* readBack);
// Teaches the sensor a new reference (order 6) and reads its RAM block (order
// 2) into block[0..15] and the variables. Shows "read error - not a
// parameter block!" when something else answered, "< 36 Bytes!" when nothing
// whole came within the 2 s time-out.
int TeachReference(int port, int32_t* block);
// One measurement: sends the request, waits up to REPLY_TIMEOUT for its reply
// and takes it as the window's receive notification does (rawbuf, "Line Ok!").
// raw[0..2] receive the measured value and the two channel readings. On a
// time-out it shows "Timeout RS232-Line!" and empties both queues.
int MeasureOnce(int port, uint16_t* raw);

}  // namespace orv
