// The panel model: every loaded panel and its controls as the program sees
// them (value, range, attributes, mark, callback), the events that the
// operator's input on a control sends and their order, the callbacks'
// nesting and the pending quit. Toolkit-free.
//
// It has two faces, one linked into a program at a time: the widget runtime
// (src/runtime/panel) shows the model on widgets and feeds the operator's
// input into it; the memory runtime (src/runtime/memory) is the model alone,
// on a virtual clock, worked by the test driver. A face implements the
// functions of namespace `face` below; the runtime API of runtime.h is
// written once, on the model (panel_api.cpp).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "runtime/runtime.h"
#include "runtime/runtime_codes.h"

namespace orv_rt {

// Control numbers handed out by NewCtrl start above this.
constexpr int FIRST_NEW_CTRL = 100;

enum class Kind { Button, Radio, Ring, Numeric, Text, Chart, Led, Timer, TextMsg, Other };

// One entry of a status line's history: a text, or a run of the same text
// shown again and again (the live scope's "Line Ok!" of every sample).
struct StatusEntry {
    std::uint64_t serial = 0;  // running number of the status line's entries
    std::int64_t firstMs = 0;  // wall clock, ms since the epoch
    std::int64_t lastMs = 0;
    std::string text;
    int count = 1;
    bool error = false;  // marked as an error while it was shown
};
// Entries a status line keeps: the newest this many.
constexpr std::size_t kStatusHistoryKept = 1000;
// An entry as one line of text (copy, save), and the header above such lines.
std::string StatusEntryLine(const StatusEntry& e);
std::string StatusHistoryHeader();

struct Control {
    int id = 0;
    Kind kind = Kind::Other;
    CtrlCallbackPtr callback = nullptr;
    bool dimmed = false;
    bool readOnly = false;
    std::string text;  // text, label, button text, lamp caption
    std::string mark;  // ATR_MARK_TEXT
    int markKind = MARK_PENDING;

    // Buttons, radio buttons, lamps.
    bool checkable = false;
    bool checked = false;
    bool down = false;  // between the button's press and its release
    // The left click of the press under way was delivered by the mouse or key
    // press itself, so the button going down must not deliver it again.
    bool pressDelivered = false;
    // Events of an assistive tool's action waiting in the event queue: they
    // run from the event processing, not inside the tool's request.
    int queuedEvents = 0;

    // Numeric.
    int value = 0;
    int minimum = 0;
    int maximum = 99;

    // Text: a status line (its texts are recorded for the test driver), and
    // the history of what it showed.
    bool statusLine = false;
    std::deque<StatusEntry> history;
    std::uint64_t historyAdded = 0;  // entries ever added

    // Ring.
    std::vector<std::string> items;
    std::vector<int> itemData;  // a port ring: the port number of each entry
    bool portRing = false;
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
    bool tickBusy = false;  // its tick callback is running

    // Text attributes.
    int textColor = 0x000000;
    int bgColor = 0xEFEFEF;
    int pixelSize = 12;
    std::string font;

    void* view = nullptr;  // what shows the control (a face's own)
};

struct Panel {
    int handle = 0;
    PanelCallbackPtr callback = nullptr;
    std::map<int, Control> controls;
    int nextNewCtrl = FIRST_NEW_CTRL + 1;
    bool visible = false;
    void* view = nullptr;  // what shows the panel (a face's own)
};

// What changed on a control, for face::Show: one of these, or the attribute
// (ATR_...) that was set.
constexpr int SHOW_VALUE = -1;  // value, check state, ring entry
constexpr int SHOW_TEXT = -2;   // text (a status line: also when unchanged)
constexpr int SHOW_ITEMS = -3;  // ring entries
constexpr int SHOW_PLOT = -4;   // chart points

Panel* FindPanel(int handle);
Control* FindControl(int panel, int control);
std::vector<int> PanelHandles();
// The control of a loaded panel: 0, or ERR_BAD_PANEL / ERR_BAD_CONTROL.
int StatusOf(int panel, int control, Control** out);
// The text a control shows (a ring: its entry; a number: its value).
std::string TextOf(const Control& c);

// Discards every panel and forgets a pending quit (test isolation).
void ResetPanels();

// Labels a port ring's entries with the ports' devices as they are now,
// adding entries for ports that got a device. Entry i is port i + 1, and no
// entry up to the current one is removed: the selection stays on its port.
void LabelPortRing(int panel, Control& c);

// ---------------------------------------------------------------------------
// Callbacks: delivery, nesting, quit
// ---------------------------------------------------------------------------

// Calls a control's callback (a dimmed control's only if `needEnabled` is
// false), or a panel's.
void DeliverCtrl(int panel, int ctrl, int event, int d1 = 0, int d2 = 0, bool needEnabled = true);
void DeliverPanel(int panel, int event);

// Counts the nesting of running callbacks, so that a quit takes effect only
// once the outermost callback has returned.
class DepthGuard {
  public:
    DepthGuard();
    ~DepthGuard();
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};
int CallbackDepth();
bool QuitPending();

// ---------------------------------------------------------------------------
// The operator's input, as the faces feed it in. Each sends the events that
// the program's callbacks get, in their order.
// ---------------------------------------------------------------------------

// A left mouse press on a control, or an activation key on a button: the
// left click (at y, x in the control), unless the control is dimmed.
void LeftClick(int panel, int ctrl, int y = 0, int x = 0);
// The mouse press is over. A press that did not put its button down (the
// button was dimmed by its own callback) leaves no mark for the next one.
void PressEnded(int panel, int ctrl);
// A button went down: the left click, unless the press that put it down
// delivered it. Down without a mouse or key press is an assistive tool's
// action: its left click runs from the event processing.
void ButtonPressed(int panel, int ctrl);
void ButtonReleased(int panel, int ctrl);
// A toggle button changed its state to `on`. Within a click the click sends
// the events; a toggle without one (an assistive tool's toggle action) is
// given the events of a click.
void ButtonToggled(int panel, int ctrl, bool on);
// A button was clicked: commit (a radio button: value changed, commit), behind
// any of its events still waiting.
void ButtonClicked(int panel, int ctrl);
// The operator picked ring entry `index`: value changed when it is another
// entry than the last one picked, then commit.
void RingPicked(int panel, int ctrl, int index);
// The ring's list opens: a port ring reads the ports afresh.
void RingOpened(int panel, int ctrl);
// The operator entered `value` into a numeric control: value changed, commit.
void NumberEntered(int panel, int ctrl, int value);
// A tick of an enabled timer; never delivered inside the same timer's tick.
void Tick(int panel, int ctrl);
// The close request of every panel (the window's close button, SIGTERM).
void CloseEveryPanel();

// ---------------------------------------------------------------------------
// Texts on status lines, kept for the test driver once it asks for them (a
// shipped program keeps none); the newest few thousand.
// ---------------------------------------------------------------------------

void RecordStatusLines(bool on);
std::vector<std::string> TakeStatusLines();
// A text was put on a status line.
void RecordStatus(const std::string& text);

// ---------------------------------------------------------------------------
// What a face provides
// ---------------------------------------------------------------------------

namespace face {

// Whether an engine that shows panels runs.
bool Ready();
// Builds what shows panel `p`, whose controls the model has just built from
// the panel file at `path`; false when the face cannot show that file.
bool Build(Panel& p, const std::string& path);
// Shows that `what` (SHOW_... or ATR_...) changed on control `c` of `p`.
void Show(Panel& p, Control& c, int what);
// Shows a new text message `c` at `top`, `left`.
void Add(Panel& p, Control& c, int top, int left);
void Display(Panel& p);
// Drops what shows `p`; the model forgets the panel right after.
void Discard(Panel& p);
// Runs `action` from the event processing, behind what is queued already.
void Post(std::function<void()> action);
// Processes events once, waiting for one when none is pending.
void RunEvents();
// A callback is about to get a left click: a number typed but not yet entered
// is taken first.
void BeforeLeftClick(int panel, int ctrl);
// A quit was asked for, or the outermost callback returned with one pending.
void QuitAsked();
// The chart as a picture in `format` (CHART_...); false when none can be taken.
bool ChartPicture(Panel& p, Control& c, int format, std::string* bytes);
// Whether ChartPicture can draw CHART_SVG.
bool DrawsSvg();
// Shows the history of status line `c` / the line view, opening the window
// or raising it.
void ShowStatusHistory(Panel& p, Control& c);
void ShowLineView(Panel& p);

}  // namespace face

}  // namespace orv_rt
