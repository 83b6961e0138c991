// Application shell: start-up, the main panel's event loop, the tick timer and
// the operator command callbacks.
#pragma once

#include <cstdint>

#include "com232/report.h"
#include "gui/panel.h"
#include "runtime/runtime.h"

namespace orv {

constexpr uint16_t TTICK_MAX = 60000;
constexpr uint16_t REPLY_TICKS = 26;  // 26 ticks of 50 ms: the reply time-out

// 50 ms tick counter: the Timer50ms callback counts, the waiting commands clear it.
extern uint16_t ttick;
// Transfer target of Get and Send: RAM, EEPROM or DATFILE.
extern int32_t target;
// 0 while the live scope runs; 1 when it must end, or is not running.
extern int32_t stop_flag;

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

// Ends the live scope as Stop does (also when it is not running).
void StopScope();
// A command inside the running scope has disturbed the line: the scope sends
// a fresh request instead of waiting for a reply that will not come.
void ResumeScope();

// Recording the live scope (record.cpp). Whether a recording is open; the
// newest sample as one row of it; its rows handed to the operating system;
// the recording closed, with its status text.
bool Recording();
void RecordSample();
void FlushRecording();
void StopRecording();

// True when the two file names are equal ignoring ASCII letter case.
bool SameNameIgnoringCase(const char* a, const char* b);

int CC_PANEL(int panel, int event, void* callbackData, int eventData1, int eventData2);
int CC_Timer50ms(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTRam(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTEeprom(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_RBTFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_DropDCom(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_ParamField(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNGet(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNSend(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_ButtonTeach(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNRun(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNStop(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_ChkRecord(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNSaveChart(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_ChkHistory(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNDismiss(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int CC_BTNStatusHistory(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int CC_BTNLineView(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);

}  // namespace orv
