// Test driver for the runtime layer: works the real panel the way an operator
// would (mouse presses and releases, keyboard, closing the window) and reads
// back what the panel shows. Toolkit-free, so tests need not include it.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace rt_test {

// A full left click on a control: mouse press (left-click event), then the
// release that completes the click (commit, and value-changed for toggles).
void Click(int panel, int control);
// Mouse press only / release only (for tests of the event kinds).
void Press(int panel, int control);
void Release(int panel, int control);
// Keyboard activation of a focused button (space / Enter).
void KeyActivate(int panel, int control);
// The "press" action of a button as an assistive tool works it (a screen
// reader, voice control): the button is clicked without any mouse or key event.
void PressAction(int panel, int control);
// Operator picks entry `index` of a ring control.
void ChooseRing(int panel, int control, int index);
// Operator opens a ring's list (and closes it again without a pick): a port
// ring reads the ports afresh as it opens.
void OpenRing(int panel, int control);
// Operator types a value into a numeric control (as if edited and committed).
void EnterNumber(int panel, int control, int value);
// Operator closes the window (window-manager close request).
void RequestClose(int panel);

// Runs `action` from the event processing once `ms` milliseconds have passed
// (for instance to press Stop while a callback's loop runs).
void After(int ms, std::function<void()> action);
// Processes events until cond() is true or timeoutMs has passed; returns cond().
bool WaitUntil(const std::function<bool()>& cond, int timeoutMs);
// Processes events for `ms` milliseconds.
void Pump(int ms);

std::string Text(int panel, int control);  // text / status controls
int Int(int panel, int control);           // numeric, ring, radio, LED
bool Dimmed(int panel, int control);
bool TimerEnabled(int panel, int control);
bool Visible(int panel);
// Y values currently held by one trace of a strip chart (oldest first).
std::vector<double> TracePoints(int panel, int control, int trace);
// Colour (0xRRGGBB) of a trace.
int TraceColor(int panel, int control, int trace);
// A control's mark (ATR_MARK_TEXT), "" when it carries none.
std::string Mark(int panel, int control);
// Labels of a ring's entries.
std::vector<std::string> RingLabels(int panel, int control);

// Queues the answer to the next FileSelectPopup: the real dialog opens and is
// filled with `path` and accepted, or cancelled when `path` is empty.
void AnswerNextFileDialog(const std::string& path);
// What the last FileSelectPopup was asked to show.
struct FileDialogInfo {
    std::string title, directory, defaultFile, filter;
    int button = -1;
    bool shown = false;
};
FileDialogInfo LastFileDialog();

// Every text shown on the status line (control marked as status line in the
// panel file) since the last call, oldest first.
std::vector<std::string> TakeStatusHistory();
// The history a status line keeps for the operator, oldest first: each text
// with how often it was shown in a row, and whether it was marked an error.
struct StatusEntryInfo {
    std::string text;
    int count = 0;
    bool error = false;
};
std::vector<StatusEntryInfo> StatusHistory(int panel, int control);

// Ends a panel callback nest-free state: discards the loaded panels and
// closes every port, so the next test starts clean.
void Reset();

}  // namespace rt_test
