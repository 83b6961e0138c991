// Port set-up, the background receive notification and the line check.
#pragma once

#include <array>
#include <cstdint>

#include "com232/params.h"

namespace orv {

constexpr double COM_TIMEOUT = 2.0;
constexpr int32_t NOTIFY_COUNT = 36;

extern int32_t ret;
extern int32_t eventMask;
extern int32_t rx_flag;
extern int32_t graphrefresh;
extern std::array<uint16_t, RAWNUM> rawbuf;
extern int32_t rxval3;

void InitRS232(int port);
void CheckComLine(int port, int syncWord);
void RX_Receive_Function(int port, int events, void* data);
// Takes the whole frame in szReadBuf as a reply, as the receive notification
// does: decodes it, copies the raw values of a measurement and sets the flags.
void TakeReply();
// Message for a negative open result.
const char* ComErrorText(int code);

}  // namespace orv
