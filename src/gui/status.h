// The status line. Every text the core and the program report is shown here
// and kept in the status line's history (the runtime keeps it). A text that
// reports a failure is marked as an error (red, an error sign, "error" for
// screen readers) and, while the live scope runs, stays: the scope's "Line
// Ok!" of every sample does not replace it until the operator starts another
// command or dismisses it. Without the scope the last text stands, whatever
// it is.
#pragma once

namespace orv {

// The note of a failure on the status line: its tooltip and the start of its
// accessible description.
constexpr const char* FAILURE_NOTE = "error";

// Puts `text` on the status line, unless it is the running scope's "Line Ok!"
// and a failure stands there.
void ShowOnStatusLine(const char* text);
// The text on the status line reports a failure although it does not say so
// itself ("Transmit..." left by a Send that did not go out).
void StatusFailed();
// The live scope runs (true) or has ended.
void StatusScopeRuns(bool running);
// The operator started a command that shows nothing at its start (Run): a
// failure shown stays until the next text, whatever it is, replaces it.
void FailureGivesWay();
// The operator dismissed the failure: the status line is emptied (the text
// stays in the history) and takes the next text.
void DismissFailure();
// Whether a failure stands on the status line.
bool FailureShown();

}  // namespace orv
