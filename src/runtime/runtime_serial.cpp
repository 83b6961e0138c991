// STUB
#include "runtime/runtime.h"
int OpenComConfig(int, const char*, long, int, int, int, int, int) {
    return COM_ERR_NO_PORT;
}
int SetComTime(int, double) {
    return 0;
}
int SetCTSMode(int, int) {
    return 0;
}
int FlushInQ(int) {
    return 0;
}
int FlushOutQ(int) {
    return 0;
}
int InstallComCallback(int, int, int, int, ComCallbackPtr, void*) {
    return 0;
}
int ComWrt(int, const char*, int) {
    return COM_ERR_NOT_OPEN;
}
int ComRd(int, char*, int) {
    return COM_ERR_NOT_OPEN;
}
int CloseCom(int) {
    return 0;
}
int GetInQLen(int) {
    return COM_ERR_NOT_OPEN;
}
const char* ComPortDevice(int) {
    return "";
}
