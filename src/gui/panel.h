// The main panel: its file, its handle, the numbers of its controls as the
// panel file stores them, and the project directory in which its file
// dialogs open.
#pragma once

#include <array>

#include "runtime/runtime.h"

namespace orv {

constexpr const char* PANEL_FILE = "OrvanscopeV10.uir";
constexpr int PANEL = 1;  // panel resource in the panel file

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
constexpr int ChkRecord = 36;
constexpr int BTNSaveChart = 37;
constexpr int ChkHistory = 38;
constexpr int BTNDismiss = 39;
constexpr int BTNStatusHistory = 40;
constexpr int BTNLineView = 41;

// Set by the start-up, which loads the panel and takes the project directory.
extern int panelHandle;
extern std::array<char, MAX_PATHNAME_LEN> proj_dir;

// From now on the core's status texts go to TextStatus (through the status
// line of gui/status.h) and its flash word counter to NumValue.
void ReportToPanel();

}  // namespace orv
