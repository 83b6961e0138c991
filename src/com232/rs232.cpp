// STUB
#include "com232/rs232.h"
namespace orv {
int32_t ret = 0;
int32_t eventMask = 0x8006;
int32_t rx_flag = 1;
int32_t graphrefresh = 0;
std::array<uint16_t, RAWNUM> rawbuf{};
int32_t rxval3 = 0;
void InitRS232(int) {}
void CheckComLine(int, int) {}
void RX_Receive_Function(int, int, void*) {}
const char* ComErrorText(int) {
    return "RS-232 error!";
}
}  // namespace orv
