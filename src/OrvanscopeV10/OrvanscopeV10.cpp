// STUB: start-up, InitVars, ShowInfoText, status line, panel and timer callbacks
#include "OrvanscopeV10/OrvanscopeV10.h"

#include <cstdarg>
#include <cstdio>

namespace orv {
int panelHandle = 0;
std::array<char, MAX_PATHNAME_LEN> proj_dir{};
uint16_t ttick = 0;
std::array<char, STATUS_LEN> szStatus{};
std::array<char, MAX_PATHNAME_LEN> file_name{};
std::array<char, MAX_PATHNAME_LEN> dir_fname{};

const CallbackEntry callbackTable[] = {
    {"CC_PANEL", nullptr, CC_PANEL},
    {"CC_Timer50ms", CC_Timer50ms, nullptr},
    {"CC_RBTRam", CC_RBTRam, nullptr},
    {"CC_RBTEeprom", CC_RBTEeprom, nullptr},
    {"CC_RBTFile", CC_RBTFile, nullptr},
    {"CC_DropDCom", CC_DropDCom, nullptr},
    {"CC_BTNGet", CC_BTNGet, nullptr},
    {"CC_BTNSend", CC_BTNSend, nullptr},
    {"CC_ButtonTeach", CC_ButtonTeach, nullptr},
    {"CC_BTNRun", CC_BTNRun, nullptr},
    {"CC_BTNStop", CC_BTNStop, nullptr},
};
const int callbackCount = static_cast<int>(sizeof(callbackTable) / sizeof(callbackTable[0]));

int WinMain(int, char*[]) {
    return -1;
}
int StartUp(int, char*[]) {
    return -1;
}
void ShutDown() {}
void InitVars() {}
void ShowInfoText(const char*, int, int, int) {}
void ShowStatus(const char*) {}
void ShowStatusF(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(szStatus.data(), szStatus.size(), format, ap);
    va_end(ap);
}
int CC_PANEL(int, int, void*, int, int) {
    return 0;
}
int CC_Timer50ms(int, int, int, void*, int, int) {
    return 0;
}
}  // namespace orv
