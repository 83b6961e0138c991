// STUB: operator commands and the live scope loop
#include "OrvanscopeV10/OrvanscopeV10.h"

namespace orv {
int32_t target = 1;
int32_t com = 1;
int32_t nBytesW = 0;
int32_t nBytesR = 0;
int32_t value = 0;
int32_t stop_flag = 1;
int CC_RBTRam(int, int, int, void*, int, int) {
    return 0;
}
int CC_RBTEeprom(int, int, int, void*, int, int) {
    return 0;
}
int CC_RBTFile(int, int, int, void*, int, int) {
    return 0;
}
int CC_DropDCom(int, int, int, void*, int, int) {
    return 0;
}
int CC_BTNGet(int, int, int, void*, int, int) {
    return 0;
}
int CC_BTNSend(int, int, int, void*, int, int) {
    return 0;
}
int CC_ButtonTeach(int, int, int, void*, int, int) {
    return 0;
}
int CC_BTNRun(int, int, int, void*, int, int) {
    return 0;
}
int CC_BTNStop(int, int, int, void*, int, int) {
    return 0;
}
}  // namespace orv
