// What the parts of the widget runtime share: the engine's state, the
// binding of widgets to the panel model's controls and the drawing of
// changed values. Private to src/runtime/panel.
#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <vector>

#include "runtime/runtime_internal.h"

namespace orv_rt {

// Dynamic properties of the panel file.
inline constexpr const char* PROP_CTRL_ID = "ctrlId";
// Set by the engine: on every control widget the handle of its panel, on a
// panel's window its own handle.
inline constexpr const char* PROP_PANEL = "orvPanel";
inline constexpr const char* PROP_PANEL_WINDOW = "orvPanelWindow";
// Set on a text message whose background the backdrop paints.
inline constexpr const char* PROP_FILL_BACKGROUND = "orvFillBackground";

struct State {
    // The model is being shown on the widgets: what they signal meanwhile is
    // no input of the operator's.
    bool mirroring = false;
    QObject* engine = nullptr;                 // filters the panels' input events; owns the connections
    std::vector<QPointer<QWidget>> unpainted;  // changed since events were last processed
    QPointer<QDialog> openDialog;              // the file dialog being shown, if any
};

State& S();

// Marks the widgets' signals as the model's own while it lasts.
class Mirroring {
  public:
    Mirroring() : saved_(S().mirroring) { S().mirroring = true; }
    ~Mirroring() { S().mirroring = saved_; }
    Mirroring(const Mirroring&) = delete;
    Mirroring& operator=(const Mirroring&) = delete;

  private:
    bool saved_;
};

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
// Shows everything of a control that its widget does not take from the
// panel file (controls.cpp).
void ShowAll(Panel& p, Control& c);

}  // namespace orv_rt
