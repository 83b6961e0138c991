// Internal interface of the memory runtime: the virtual clock and its events,
// the panels and their controls, and the hooks between the parts. Nothing
// here is seen by the program or by tests.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "runtime/runtime_codes.h"

namespace orv_mem {

// Failure codes: the numbers the real runtime returns.
using orv_rt::ERR_BAD_ATTRIBUTE;
using orv_rt::ERR_BAD_CONTROL;
using orv_rt::ERR_BAD_PANEL;
using orv_rt::ERR_BAD_VALUE;
using orv_rt::ERR_NO_ENGINE;
using orv_rt::ERR_PANEL_FILE;
using orv_rt::ERR_TOO_LONG;

constexpr int FIRST_NEW_CTRL = 100;  // NewCtrl hands out numbers above this
constexpr double kNever = std::numeric_limits<double>::infinity();
// With nothing due, one step of event processing waits at most this long.
constexpr double kMaxStepMs = 10.0;

// ---------------------------------------------------------------------------
// Clock and events
// ---------------------------------------------------------------------------

// The virtual clock, in ms. It only moves forward.
double NowMs();
void AdvanceTo(double ms);

// One step of event processing, as ProcessSystemEvents does it: runs what is
// due now; with nothing due, first moves the clock to the next event, by at
// most kMaxStepMs and never past `limitMs`.
void Step(double limitMs = kNever);

// Runs `action` from the event processing once the clock reaches `atMs`.
void Schedule(double atMs, std::function<void()> action);
void DropScheduled();

// Engine state.
enum class Engine { None, Console, Panels };
Engine& EngineKind();
// Callbacks running (0 = none); a quit takes effect at depth 0.
int& Depth();
bool& QuitRequested();
int& QuitCode();

class DepthGuard {
  public:
    DepthGuard() { ++Depth(); }
    ~DepthGuard() { --Depth(); }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

// The directory the engine was started in.

// ---------------------------------------------------------------------------
// Serial ports (hooks for the event processing)
// ---------------------------------------------------------------------------

// Brings every open port up to the clock: bytes that have arrived join its
// input queue, and a line that has closed leaves the port dead.
void SerialPoll();
// When a port's line next changes (bytes arriving, the line closing).
double SerialNextMs();
// Whether a receive notification, or the closing of a dead port, is due.
bool SerialDue();
// Delivers what SerialDue reports, each port at most once.
void SerialRun();
// Whether bytes are still on their way to any open port.
bool SerialBusy();
void CloseAllPorts();

// ---------------------------------------------------------------------------
// Panels
// ---------------------------------------------------------------------------

enum class Kind { Button, Radio, Ring, Numeric, Text, Chart, Led, Timer, TextMsg, Other };

struct Control {
    int id = 0;
    Kind kind = Kind::Other;
    CtrlCallbackPtr callback = nullptr;
    bool dimmed = false;
    bool readOnly = false;
    std::string text;  // text, label, button text, lamp caption
    std::string mark;  // ATR_MARK_TEXT

    // Buttons, radio buttons, lamps.
    bool checkable = false;
    bool checked = false;
    bool down = false;  // pressed and not yet released

    // Numeric.
    int value = 0;
    int minimum = 0;
    int maximum = 99;

    // Text.
    bool statusLine = false;

    // Ring.
    std::vector<std::string> items;
    std::vector<int> itemData;  // port rings: the port number of each entry
    int current = -1;
    int lastRingIndex = -1;  // the index the operator's last choice left

    // Strip chart: each trace keeps its newest `pointsPerScreen` values.
    std::vector<std::deque<double>> traces = std::vector<std::deque<double>>(1);
    std::vector<int> colors = std::vector<int>(1, 0);
    int pointsPerScreen = 101;
    int chartMode = 0;
    int phase = 0;  // trace that the next plotted value belongs to

    // Timer.
    int intervalMs = 50;
    bool running = false;
    double dueMs = 0;
    bool busy = false;  // its tick callback is running

    // Text attributes.
    int textColor = 0x000000;
    int bgColor = 0xEFEFEF;
    int pixelSize = 12;
    std::string font;
};

struct Panel {
    int handle = 0;
    PanelCallbackPtr callback = nullptr;
    std::map<int, Control> controls;
    int nextNewCtrl = FIRST_NEW_CTRL + 1;
    bool visible = false;
};

Panel* FindPanel(int handle);
// Labels a port ring's entries with the ports' devices as they are now; entry
// i is port i + 1, so the selection stays on its port.
void LabelPortRing(Control& c);
Control* FindControl(int panel, int control);
std::vector<int> PanelHandles();

// Delivers an event to a control's callback; a dimmed control delivers
// nothing unless `needEnabled` is false (timer ticks).
void DeliverCtrl(int panel, int control, int event, bool needEnabled = true);
void DeliverPanel(int panel, int event);

// The earliest tick due by `limitMs` among running timer controls, or false.
bool NextTick(double limitMs, int* panel, int* control, double* dueMs);
double TimersNextMs();
bool AnyTimerRunning();
// Starts or stops a timer control (ticks from now on, every interval).
void SetTimerRunning(Control& c, bool on);

// The file dialog: answers queued by the test driver and what was last asked.
struct FileDialogRecord {
    std::string title, directory, defaultFile, filter;
    int button = -1;
    bool shown = false;
};
FileDialogRecord& LastFileDialog();
std::deque<std::string>& DialogAnswers();

std::vector<std::string> TakeStatusHistory();

// The line log's verdicts (LineLogVerdict), newest last.
struct LineVerdict {
    int port = 0;
    int verdict = 0;
    unsigned request = 0;
    std::string bytes;
};
std::vector<LineVerdict>& LineVerdicts();
// Discards every panel and forgets a pending quit, the status history and the
// last file dialog.
void ResetEngine();

}  // namespace orv_mem
