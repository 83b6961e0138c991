// The status line: failures marked, and kept from the live scope's "Line Ok!".
#include "gui/status.h"

#include <cstring>

#include "com232/report.h"
#include "gui/panel.h"

namespace orv {

namespace {

constexpr const char* SCOPE_SAMPLE_TEXT = "Line Ok!";

bool failureShown = false;  // the text on the status line reports a failure
bool givesWay = false;      // ... and a command started since, so it is not kept
bool scopeLive = false;     // the live scope runs

void MarkFailure(bool on) {
    failureShown = on;
    givesWay = false;
    if (on)
        SetCtrlAttribute(panelHandle, TextStatus, ATR_MARK_TEXT, FAILURE_NOTE);
    SetCtrlAttribute(panelHandle, BTNDismiss, ATR_DIMMED, on ? 0 : 1);
}

}  // namespace

void ShowOnStatusLine(const char* text) {
    if (text == nullptr)
        return;
    if (failureShown && !givesWay && scopeLive && std::strcmp(text, SCOPE_SAMPLE_TEXT) == 0)
        return;
    // A new text comes unmarked: the mark went with the text before it.
    SetCtrlVal(panelHandle, TextStatus, text);
    MarkFailure(IsFailureStatus(text));
}

void StatusFailed() {
    MarkFailure(true);
}

void StatusScopeRuns(bool running) {
    scopeLive = running;
}

void FailureGivesWay() {
    givesWay = failureShown;
}

void DismissFailure() {
    if (!failureShown)
        return;
    SetCtrlVal(panelHandle, TextStatus, "");
    MarkFailure(false);
}

bool FailureShown() {
    return failureShown;
}

}  // namespace orv
