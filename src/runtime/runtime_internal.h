// Internal interface of the runtime layer's panel half, shared by the engine
// and the test driver. Qt-based; the program's own code never includes it.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <string>
#include <vector>

#include "runtime/runtime.h"

namespace orv_rt {

// Failure codes of the panel functions (all negative).
constexpr int ERR_NO_ENGINE = -1;
constexpr int ERR_BAD_PANEL = -4;
constexpr int ERR_BAD_CONTROL = -13;
constexpr int ERR_BAD_ATTRIBUTE = -14;
constexpr int ERR_BAD_VALUE = -15;
constexpr int ERR_PANEL_FILE = -20;
constexpr int ERR_TOO_LONG = -21;

// Control numbers handed out by NewCtrl start above this.
constexpr int FIRST_NEW_CTRL = 100;

enum class Kind { Button, Radio, Ring, Numeric, Text, Chart, Led, Timer, TextMsg, Other };

struct Control {
    int id = 0;
    Kind kind = Kind::Other;
    QPointer<QWidget> widget;
    CtrlCallbackPtr callback = nullptr;
    int lastRingIndex = -1;  // ring: the index the operator's last choice left
};

struct Panel {
    int handle = 0;
    QPointer<QWidget> window;
    PanelCallbackPtr callback = nullptr;
    std::map<int, Control> controls;
    int nextNewCtrl = FIRST_NEW_CTRL + 1;
};

// The panel with this handle, or nullptr.
Panel* FindPanel(int handle);
// The control of a panel, or nullptr.
Control* FindControl(int panel, int control);
QWidget* ControlWidget(int panel, int control);
// Handles of every loaded panel.
std::vector<int> PanelHandles();

// What the last FileSelectPopup was asked to show.
struct FileDialogRecord {
    std::string title, directory, defaultFile, filter;
    int button = -1;
    bool shown = false;
};
FileDialogRecord& LastFileDialog();

// Every text put on a status line since the last take, oldest first.
std::vector<std::string> TakeStatusHistory();

// Discards every panel and forgets a pending quit (for test isolation).
void ResetEngine();

// Depth of callbacks currently running (0 = none).
int CallbackDepth();

// Draws at once every control whose value changed since events were last
// processed; called before the program blocks without processing events.
void FlushDisplay();

}  // namespace orv_rt
