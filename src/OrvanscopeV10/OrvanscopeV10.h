// Application shell: start-up, the main panel and its controls, the event
// loop, the tick timer, the status line and the operator command callbacks.
#pragma once

#include <array>
#include <cstdint>

#include "runtime/runtime.h"

namespace orv {

// Main panel resource and its control numbers (as stored in the panel file).
constexpr int PANEL = 1;
constexpr int DropDCom = 2;
constexpr int StripChart = 3;
constexpr int NumPower = 4;
constexpr int NumTolerance = 5;
constexpr int NumReference = 6;
constexpr int LedTOL = 7;
constexpr int LedREF = 8;
constexpr int NumPowermode = 9;
constexpr int BTNGet = 10;
constexpr int BTNSend = 11;
constexpr int ButtonTeach = 12;
constexpr int BTNStop = 13;
constexpr int RBTFile = 15;
constexpr int RBTEeprom = 16;
constexpr int RBTRam = 17;
constexpr int NumPolarity = 18;
constexpr int BTNRun = 21;
constexpr int NumAverage = 22;
constexpr int NumLinear = 23;
constexpr int NumValue = 27;
constexpr int NumHysteresis = 33;
constexpr int Timer50ms = 34;
constexpr int TextStatus = 35;

constexpr const char* PANEL_FILE = "OrvanscopeV10.uir";
constexpr int STATUS_LEN = 64;
constexpr uint16_t TTICK_MAX = 60000;
constexpr uint16_t REPLY_TICKS = 26;  // 26 ticks of 50 ms: the reply time-out

extern int panelHandle;
extern std::array<char, MAX_PATHNAME_LEN> proj_dir;
extern uint16_t ttick;
extern std::array<char, STATUS_LEN> szStatus;

extern int32_t target;
extern int32_t com;
extern int32_t nBytesW;
extern int32_t nBytesR;
extern int32_t value;
extern int32_t stop_flag;
extern std::array<char, MAX_PATHNAME_LEN> file_name;
extern std::array<char, MAX_PATHNAME_LEN> dir_fname;

// The table of callback functions that the panel file's callback names bind to.
extern const CallbackEntry callbackTable[];
extern const int callbackCount;

// Entry: returns 0 after an orderly shutdown, -1 when the engine cannot be
// started or the panel cannot be loaded.
int WinMain(int argc, char* argv[]);
// Start-up steps up to the line check (engine, panel, project directory,
// InitVars, InitRS232); 0 on success, -1 on failure. WinMain = StartUp,
// DisplayPanel, RunUserInterface, ShutDown.
int StartUp(int argc, char* argv[]);
// Closes the port and discards the panel.
void ShutDown();

void InitVars();
void ShowInfoText(const char* text, int left, int top, int pointSize);
// Shows `text` on the status line.
void ShowStatus(const char* text);
// Copies `text` into szStatus (truncated to fit, always terminated) without showing it.
void SetStatusText(const char* text);
// Formats into szStatus (always terminated, never overflowing) and shows it.
void ShowStatusF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends the live scope as Stop does (also when it is not running).
void StopScope();

// True when the two paths are equal ignoring ASCII letter case.
bool SamePathIgnoringCase(const char* a, const char* b);

int CC_PANEL(int panel, int event, void* callbackData, int eventData1, int eventData2);
int CC_Timer50ms(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTRam(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_DropDCom(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNGet(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNSend(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_ButtonTeach(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNRun(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNStop(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);

}  // namespace orv
