// Internal interface of the runtime layer's panel half, shared by its parts,
// the test driver and white-box tests. Qt-based; the program's own code never
// includes it.
#pragma once

#include <QPalette>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <vector>

#include "runtime/core/core_internal.h"
#include "runtime/files/files_internal.h"
#include "runtime/runtime.h"

namespace orv_rt {

// Control numbers handed out by NewCtrl start above this.
constexpr int FIRST_NEW_CTRL = 100;

enum class Kind { Button, Radio, Ring, Numeric, Text, Chart, Led, Timer, TextMsg, Other };

struct Control {
    int id = 0;
    Kind kind = Kind::Other;
    QPointer<QWidget> widget;
    CtrlCallbackPtr callback = nullptr;
    int lastRingIndex = -1;  // ring: the index the operator's last choice left
    // Button: a left-click event was delivered for the press now under way
    // (mouse or key), so the button's pressed() signal must not deliver it again.
    bool pressDelivered = false;
    // Button: down between its pressed() and released() signals. A toggle
    // outside of that came from no click (an assistive tool's toggle action).
    bool down = false;
    // Button: events of an assistive tool's action wait in the event queue.
    // They run from the event loop, not inside the tool's request, which a
    // callback that opens a dialog or waits for a reply would hold up.
    int queuedEvents = 0;
    // The control's mark (ATR_MARK_TEXT) and what the mark covers while it is on.
    QString mark;
    QPalette unmarkedPalette;
    QString unmarkedToolTip, unmarkedDescription;
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

// Discards every panel and forgets a pending quit (for test isolation).
void ResetEngine();

// Depth of callbacks currently running (0 = none).
int CallbackDepth();

}  // namespace orv_rt
