// The runtime layer: panel, event loop, files, timing and serial port services
// that the program reaches through plain functions. Only the implementation of
// this layer knows about the widget toolkit; this header is toolkit-free.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

constexpr int MAX_PATHNAME_LEN = 260;  // every path buffer holds this many chars

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

// Control style for NewCtrl.
constexpr int CTRL_TEXT_MSG = 160;

// Font name meaning "the standard application font".
constexpr const char* FONT_APP = "<application>";

// Element types for array files and charts.
constexpr int TYPE_INT = 1;
constexpr int TYPE_DOUBLE = 4;
constexpr int TYPE_UINT = 7;

// File type and action for array files.
constexpr int FILE_ASCII = 1;
constexpr int FILE_TRUNCATE = 0;

// Array-file failures (negative results of ArrayToFile / FileToArray).
constexpr int FILE_ERR_OPEN = -1;      // the file cannot be opened
constexpr int FILE_ERR_SHORT = -2;     // fewer numbers than requested
constexpr int FILE_ERR_FORMAT = -3;    // a token that is not a number of the element type
constexpr int FILE_ERR_WRITE = -4;     // writing or replacing the file failed
constexpr int FILE_ERR_ARGS = -5;      // bad count, groups, type or null pointer
constexpr int FILE_ERR_NOT_FILE = -6;  // a FIFO, device, socket or directory, not a regular file

// FileSelectPopup buttons and results.
constexpr int BUTTON_OK = 0;
constexpr int BUTTON_LOAD = 3;
constexpr int FILESEL_NONE = 0;            // cancelled
constexpr int FILESEL_EXISTING = 1;        // an existing file was chosen
constexpr int FILESEL_NEW = 2;             // a new file name was chosen
constexpr int FILESEL_ERR_TOO_LONG = -10;  // chosen path does not fit MAX_PATHNAME_LEN

// Receive-notification event bits.
constexpr int COM_EVT_RXFLAG = 0x0002;   // event character received
constexpr int COM_EVT_TXEMPTY = 0x0004;  // output queue empty
constexpr int COM_EVT_RXCOUNT = 0x8000;  // notify count reached

// Serial open / transfer failures.
constexpr int COM_ERR_UNKNOWN_SYSTEM = -1;
constexpr int COM_ERR_INVALID_PORT = -2;
constexpr int COM_ERR_NOT_OPEN = -3;
constexpr int COM_ERR_IO = -4;
constexpr int COM_ERR_GENERAL = -5;
constexpr int COM_ERR_NO_PORT = -6;
constexpr int COM_ERR_CANNOT_OPEN = -7;
constexpr int COM_ERR_TIMEOUT = -99;

constexpr int MAX_COM_PORTS = 32;  // port numbers 1..MAX_COM_PORTS

// ---------------------------------------------------------------------------
// Callbacks
// ---------------------------------------------------------------------------

using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData, int eventData1,
                                int eventData2);
using PanelCallbackPtr = int (*)(int panel, int event, void* callbackData, int eventData1, int eventData2);
using ComCallbackPtr = void (*)(int portNumber, int eventMask, void* callbackData);

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
// Runs the pending events nested in the caller; waits briefly when none is pending.
int ProcessSystemEvents();

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

int NewCtrl(int panel, int style, const char* label, int top, int left);

int SetTraceAttribute(int panel, int control, int trace, int attribute, int value);
int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex,
                   int skipCount, int dataType);

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec, const char* fileTypeList,
                    const char* title, int buttonLabel, int restrictDirectory, int restrictExtension,
                    int allowCancel, int allowMakeDirectory, char* pathName);

int GetProjectDir(char* directoryPath);
int GetFullPathFromProject(const char* fileName, char* fullPathName);
// Whether the file `filePath` (which need not exist) lies in `directory`:
// the file's directory and `directory` are compared as directories of the
// file system, with symbolic links followed and letter case as the file
// system treats it, never by the text of the paths. Returns 1 when they are
// the same directory, 0 when not or when either does not exist, and a
// negative value for a missing argument.
int FileInDirectory(const char* filePath, const char* directory);

// Blocks for `seconds` without processing events.
void Delay(double seconds);
// Seconds on a steady clock that never goes back (its start is arbitrary).
double Timer();

// ---------------------------------------------------------------------------
// Array files
// ---------------------------------------------------------------------------

int ArrayToFile(const char* fileName, const void* array, int dataType, int numberOfElements,
                int numberOfGroups, int arrayDataOrder, int fileLayout, int columnSeparation, int fieldWidth,
                int fileType, int fileAction);
int FileToArray(const char* fileName, void* array, int dataType, int numberOfElements, int numberOfGroups,
                int arrayDataOrder, int fileLayout, int fileType);
// After a failed FileToArray: the 0-based element index at which reading
// stopped (FILE_ERR_SHORT: numbers found; FILE_ERR_FORMAT: the bad element).
int ArrayFileErrorIndex();

// ---------------------------------------------------------------------------
// Serial port
// ---------------------------------------------------------------------------

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int outputQueueSize);
int SetComTime(int port, double timeoutSeconds);
int SetCTSMode(int port, int mode);
int FlushInQ(int port);
int FlushOutQ(int port);
int InstallComCallback(int port, int eventMask, int notifyCount, int eventCharacter, ComCallbackPtr callback,
                       void* callbackData);
int ComWrt(int port, const char* buffer, int count);
int ComRd(int port, char* buffer, int count);
int CloseCom(int port);
// Bytes waiting in the input queue, or a negative code when the port is not open.
int GetInQLen(int port);

// Device that port `port` maps to ("" when none), for labels and messages.
const char* ComPortDevice(int port);
