// What the parts of the panel half share: the engine's state, the delivery of
// events to the program's callbacks and the drawing of changed values.
// Private to src/runtime/panel.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <map>
#include <vector>

#include "runtime/runtime_internal.h"

namespace orv_rt {

// Dynamic properties of the panel file.
inline constexpr const char* PROP_CTRL_ID = "ctrlId";
inline constexpr const char* PROP_CALLBACK = "callback";
inline constexpr const char* PROP_STATUS_LINE = "statusLine";
inline constexpr const char* PROP_PORT_RING = "portRing";
// Set by the engine: on every control widget the handle of its panel, on a
// panel's window its own handle.
inline constexpr const char* PROP_PANEL = "orvPanel";
inline constexpr const char* PROP_PANEL_WINDOW = "orvPanelWindow";
// Set on a text message whose background the backdrop paints.
inline constexpr const char* PROP_FILL_BACKGROUND = "orvFillBackground";

struct State {
    const CallbackEntry* table = nullptr;
    int tableCount = 0;
    std::map<int, Panel> panels;
    int nextHandle = 1;
    int depth = 0;
    bool quitRequested = false;
    int quitCode = 0;
    bool programmatic = false;                 // a value is being set by the program: no events
    QObject* engine = nullptr;                 // filters the panels' input events; owns the connections
    std::vector<QPointer<QWidget>> unpainted;  // changed since events were last processed
    QPointer<QDialog> openDialog;              // the file dialog being shown, if any
};

State& S();

// Counts the nesting of running callbacks, so that a quit takes effect only
// once the outermost callback has returned.
class DepthGuard {
  public:
    DepthGuard();
    ~DepthGuard();
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// Calls a control's callback (only for an enabled control unless
// `needEnabled` is false) or a panel's callback.
void DeliverCtrl(int panel, int ctrl, int event, int d1 = 0, int d2 = 0, bool needEnabled = true);
void DeliverPanel(int panel, int event);
// A button went down: the left-click event, unless the mouse or key press that
// caused it has delivered it already. A press through an assistive tool (which
// clicks the button without any mouse or key event) thus also gets its
// left-click event before the commit.
void ButtonPressed(int panel, int ctrl);
void ButtonReleased(int panel, int ctrl);
// A toggle button changed its state. Within a click the click delivers the
// events; a toggle without one (an assistive tool's toggle action) is given
// the events of a click, so the program sees what the operator did.
void ButtonToggled(int panel, int ctrl);
// A button was clicked: commit (a radio button: value changed, commit), in
// order behind any of its events still waiting in the queue.
void ButtonClicked(int panel, int ctrl);

// Turns termination requests of the session into close requests of every
// panel (termination.cpp).
void WatchTermination(QObject* owner);

// Shows a changed value (controls.cpp): drawn with the next event
// processing, or before the program next blocks, whichever comes first.
void ShowNow(QWidget* w);
// Draws at once every control whose value changed since events were last
// processed (the core's hook before the program blocks).
void FlushDisplay();
// Events are about to be processed and will draw what changed.
void ForgetUnpainted();
// The control of a loaded panel: 0, or ERR_BAD_PANEL / ERR_BAD_CONTROL.
int StatusOf(int panel, int control, Control** out);

}  // namespace orv_rt
