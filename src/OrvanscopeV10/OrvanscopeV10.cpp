// Start-up, shutdown, the status line, the info labels, and the panel,
// timer, status line and line view callbacks.
#include "OrvanscopeV10/OrvanscopeV10.h"

#include "com232/frame.h"
#include "com232/params.h"
#include "com232/rs232.h"
#include "gui/chart.h"
#include "gui/panelmap.h"
#include "gui/status.h"

namespace orv {

uint16_t ttick = 0;

const CallbackEntry callbackTable[] = {
    {"CC_PANEL", nullptr, CC_PANEL},
    {"CC_Timer50ms", CC_Timer50ms, nullptr},
    {"CC_RBTRam", CC_RBTRam, nullptr},
    {"CC_RBTEeprom", CC_RBTEeprom, nullptr},
    {"CC_RBTFile", CC_RBTFile, nullptr},
    {"CC_DropDCom", CC_DropDCom, nullptr},
    {"CC_ParamField", CC_ParamField, nullptr},
    {"CC_BTNGet", CC_BTNGet, nullptr},
    {"CC_BTNSend", CC_BTNSend, nullptr},
    {"CC_ButtonTeach", CC_ButtonTeach, nullptr},
    {"CC_BTNRun", CC_BTNRun, nullptr},
    {"CC_BTNStop", CC_BTNStop, nullptr},
    {"CC_ChkRecord", CC_ChkRecord, nullptr},
    {"CC_BTNSaveChart", CC_BTNSaveChart, nullptr},
    {"CC_ChkHistory", CC_ChkHistory, nullptr},
    {"CC_BTNDismiss", CC_BTNDismiss, nullptr},
    {"CC_BTNStatusHistory", CC_BTNStatusHistory, nullptr},
    {"CC_BTNLineView", CC_BTNLineView, nullptr},
};
const int callbackCount = static_cast<int>(sizeof(callbackTable) / sizeof(callbackTable[0]));

namespace {

constexpr int INFO_TEXT_COLOR = 0xFFFFFF;
constexpr int INFO_BG_COLOR = 0x0080FF;

struct InfoLabel {
    const char* text;
    int left;
    int top;
    int pointSize;
};

constexpr InfoLabel infoLabels[] = {
    {"PC-SOFTWARE: M-DOR-KX Series", 15, 8, 11},
    {"Orvan Sensorik GmbH", 15, 21, 11},
    {"Tel. +49 (0)7000 123 456", 15, 36, 11},
    {"Orvan-A-Scope", 175, 30, 18},
    {"V1.0", 280, 36, 11},
};

}  // namespace

int WinMain(int argc, char* argv[]) {
    if (StartUp(argc, argv) < 0)
        return -1;
    DisplayPanel(panelHandle);
    RunUserInterface();
    ShutDown();
    return 0;
}

int StartUp(int argc, char* argv[]) {
    if (InitEngine(argc, argv) == 0)
        return -1;
    SetCallbackTable(callbackTable, callbackCount);
    // The panel is loaded before any port is opened: without it the program
    // ends at once and leaves the line alone.
    panelHandle = LoadPanel(0, PANEL_FILE, PANEL);
    if (panelHandle <= 0)
        return -1;
    ReportToPanel();
    GetProjectDir(proj_dir.data());
    InitVars();
    InitRS232(com);
    return 0;
}

void ShutDown() {
    StopRecording();
    CloseCom(com);
    DiscardPanel(panelHandle);
}

void InitVars() {
    SetParameterDefaults();
    ref10Bit = 512;
    tol10Bit = 128;
    refTHD = ref10Bit;
    upTHD = static_cast<uint16_t>(ref10Bit + tol10Bit);
    lowTHD = static_cast<uint16_t>(ref10Bit - tol10Bit);
    com = 1;
    sync = SYNC_DEFAULT;
    order = 1;
    target = RAM;
    rx_flag = 1;
    stop_flag = 1;
    ttick = 0;

    SetStatusText("InitVars");
    ShowStatus(szStatus.data());

    for (const InfoLabel& label : infoLabels)
        ShowInfoText(label.text, label.left, label.top, label.pointSize);

    GetPanelValues();
    FieldsInStep();  // nothing has been edited yet
    FillarrayNORM(tol10Bit, ref10Bit, 0);
}

void ShowInfoText(const char* text, int left, int top, int pointSize) {
    const int ctrl = NewCtrl(panelHandle, CTRL_TEXT_MSG, "", top, left);
    SetCtrlAttribute(panelHandle, ctrl, ATR_TEXT_FONT, FONT_APP);
    SetCtrlAttribute(panelHandle, ctrl, ATR_TEXT_COLOR, INFO_TEXT_COLOR);
    SetCtrlAttribute(panelHandle, ctrl, ATR_TEXT_BGCOLOR, INFO_BG_COLOR);
    SetCtrlAttribute(panelHandle, ctrl, ATR_TEXT_POINT_SIZE, pointSize);
    SetCtrlVal(panelHandle, ctrl, text);
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (;; ++a, ++b) {
        if (lower(*a) != lower(*b))
            return false;
        if (*a == '\0')
            return true;
    }
}

int CC_PANEL(int, int event, void*, int, int) {
    if (event == EVT_CLOSE) {
        // The quit takes effect once the outermost callback has returned: a
        // running scope is ended so that its loop returns.
        if (stop_flag == 0)
            StopScope();
        QuitUserInterface(0);
    }
    return 0;
}

int CC_BTNDismiss(int, int, int event, void*, int, int) {
    if (event == EVT_COMMIT)
        DismissFailure();
    return 0;
}

int CC_BTNStatusHistory(int, int, int event, void*, int, int) {
    if (event == EVT_COMMIT)
        DisplayStatusHistory(panelHandle, TextStatus);
    return 0;
}

int CC_BTNLineView(int, int, int event, void*, int, int) {
    if (event == EVT_COMMIT)
        DisplayLineView(panelHandle);
    return 0;
}

int CC_Timer50ms(int, int, int event, void*, int, int) {
    if (event == EVT_TIMER_TICK) {
        // Counts up to TTICK_MAX and stays there; it never wraps to 0.
        const unsigned next = static_cast<unsigned>(ttick) + 1u;
        ttick = next > TTICK_MAX ? TTICK_MAX : static_cast<uint16_t>(next);
    }
    return 0;
}

}  // namespace orv
