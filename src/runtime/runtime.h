// The runtime layer: the panel half (panel, controls, events and the event
// loop) on top of the core half (files, timing, serial port). The program
// reaches all of it through plain functions. Only the implementation of this
// layer knows about the widget toolkit; this header is toolkit-free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/rtcore.h"

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

// Events delivered to control and panel callbacks.
constexpr int EVT_COMMIT = 1;
constexpr int EVT_VALUE_CHANGED = 2;
constexpr int EVT_LEFT_CLICK = 3;
constexpr int EVT_GOT_FOCUS = 8;
constexpr int EVT_LOST_FOCUS = 9;
constexpr int EVT_CLOSE = 11;
constexpr int EVT_TIMER_TICK = 15;

// Control attributes.
constexpr int ATR_DIMMED = 500;
constexpr int ATR_TEXT_COLOR = 680;
constexpr int ATR_TEXT_FONT = 682;
constexpr int ATR_TEXT_POINT_SIZE = 686;
constexpr int ATR_TEXT_BGCOLOR = 690;
constexpr int ATR_CHART_MODE = 1088;  // chart refresh mode; 1 = redraw on every plot
constexpr int ATR_NUM_TRACES = 1170;
constexpr int ATR_POINTS_PER_SCREEN = 1171;
constexpr int ATR_TIMER_ENABLED = 1271;
constexpr int ATR_TRACE_COLOR = 1230;  // trace attribute
// A short note that flags a control (for instance "not sent"): the control is
// drawn tinted, the note is its tooltip and heads its accessible description.
// An empty note takes the flag off. Numeric, text and button controls.
constexpr int ATR_MARK_TEXT = 3000;
// How a mark is drawn. A status line's mark belongs to the text it shows:
// a new text comes unmarked.
constexpr int ATR_MARK_KIND = 3001;
constexpr int MARK_PENDING = 0;      // amber face, bold: something not done yet (the default)
constexpr int MARK_UNCONFIRMED = 1;  // blue face, italic: not confirmed
constexpr int MARK_ERROR = 2;        // red with an error sign: a failure

// Control style for NewCtrl.
constexpr int CTRL_TEXT_MSG = 160;

// Font name meaning "the standard application font".
constexpr const char* FONT_APP = "<application>";

// FileSelectPopup buttons and results.
constexpr int BUTTON_OK = 0;
constexpr int BUTTON_LOAD = 3;
constexpr int FILESEL_NONE = 0;            // cancelled
constexpr int FILESEL_EXISTING = 1;        // an existing file was chosen
constexpr int FILESEL_NEW = 2;             // a new file name was chosen
constexpr int FILESEL_ERR_TOO_LONG = -10;  // chosen path does not fit MAX_PATHNAME_LEN

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData, int eventData1,
                                int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1, int eventData2);

// One entry of the program's table of callback functions. The panel file names
// a callback per control; LoadPanel binds that name through this table.
struct CallbackEntry {
    const char* name;
    CtrlCallbackPtr control;  // set for control callbacks
    PanelCallbackPtr panel;   // set for panel callbacks
};

// ---------------------------------------------------------------------------
// Engine, panel and events
// ---------------------------------------------------------------------------

// Starts the engine. Returns 0 on failure, 1 on success. Safe to call again.
int InitEngine(int argc, char* argv[]);
// Installs the table through which LoadPanel binds callback names.
void SetCallbackTable(const CallbackEntry* table, int count);

// Loads panel `panelResource` from the panel file `file` (a bare name is looked
// for next to the executable, then in the installed data directory). Returns
// the panel handle (> 0) or a negative value on failure.
int LoadPanel(int parentPanel, const char* file, int panelResource);
int DisplayPanel(int panel);
int DiscardPanel(int panel);

// Dispatches events until QuitUserInterface; returns the quit code.
int RunUserInterface();
int QuitUserInterface(int code);

int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, double* value);
// Text of a text control, NUL-terminated, at most size-1 characters.
int GetCtrlValText(int panel, int control, char* text, std::size_t size);

int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char* text);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);
// Text-valued attributes (ATR_MARK_TEXT), NUL-terminated, at most size-1 characters.
int GetCtrlAttributeText(int panel, int control, int attribute, char* text, std::size_t size);

int NewCtrl(int panel, int style, const char* label, int top, int left);

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);
int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType);
// Picture formats of SaveChartImage.
constexpr int CHART_PNG = 1;
constexpr int CHART_JPEG = 2;
constexpr int CHART_BMP = 3;
constexpr int CHART_SVG = 4;  // where the runtime can draw SVG
// The format SaveChartImage writes for `path`, named by its suffix in any
// letter case (.png, .jpg or .jpeg, .bmp, .svg); 0 for any other suffix,
// which is written as PNG.
int ChartImageFormat(const char* path);
// Saves the chart as a picture at `path` in the format its suffix names, at
// the chart's size on the screen (or larger on a high-density screen). 0, or
// a negative code: FILE_ERR_NOT_FILE when `path` names anything but a
// regular file, FILE_ERR_WRITE when the file cannot be written.
int SaveChartImage(int panel, int control, const char* path);

// Windows of the runtime's own beside the panel, each opened once and
// raised when asked again; closed with the panel.
// The status history of a status line: every text it showed, with its time
// (the newest 1000; a text shown again at once is counted, not repeated),
// errors marked. The operator can copy it or save it as text.
int DisplayStatusHistory(int panel, int control);
// The line view: every frame sent and received on the serial ports with its
// time, direction, bytes, decoded words and what the program made of it, and
// the line's events (the newest 16384 entries, from the same source as the
// line log). The operator can pause it, filter it by order word, copy it and
// save it as text.
int DisplayLineView(int panel);

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char* pathName);
