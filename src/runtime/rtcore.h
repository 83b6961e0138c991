// The core half of the runtime layer: files, timing and serial port services,
// with their codes. Everything here works without a window, so the protocol
// and its files (and a program without a panel) need nothing else. Only the
// implementation knows about the toolkit; this header is toolkit-free.
#pragma once

#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Codes
// ---------------------------------------------------------------------------

constexpr int MAX_PATHNAME_LEN = 260;  // every path buffer holds this many chars

// Element types for array files and charts.
constexpr int TYPE_INT = 1;
constexpr int TYPE_DOUBLE = 4;
constexpr int TYPE_UINT = 7;

// File type and action for array files.
constexpr int FILE_ASCII = 1;
constexpr int FILE_TRUNCATE = 0;
constexpr int FILE_APPEND = 2;  // text files: write on after what the file holds

// Array-file failures (negative results of ArrayToFile / FileToArray).
constexpr int FILE_ERR_OPEN = -1;      // the file cannot be opened
constexpr int FILE_ERR_SHORT = -2;     // fewer numbers than requested
constexpr int FILE_ERR_FORMAT = -3;    // a token that is not a number of the element type
constexpr int FILE_ERR_WRITE = -4;     // writing or replacing the file failed
constexpr int FILE_ERR_ARGS = -5;      // bad count, groups, type or null pointer
constexpr int FILE_ERR_NOT_FILE = -6;  // a FIFO, device, socket or directory, not a regular file

// Receive-notification event bits.
constexpr int COM_EVT_RXFLAG = 0x0002;   // event character received
constexpr int COM_EVT_TXEMPTY = 0x0004;  // output queue empty
constexpr int COM_EVT_RXCOUNT = 0x8000;  // notify count reached
// The port's device had vanished and has come back: the port was opened again
// by itself, with the same settings and notification. Delivered from the
// event processing to a callback installed with this bit in its mask.
constexpr int COM_EVT_REOPENED = 0x0200;

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
// Engine, timing and the project directory
// ---------------------------------------------------------------------------

using ComCallbackPtr = void (*)(int portNumber, int eventMask, void* callbackData);

// Starts the engine for a program without a window. Returns 0 on failure, 1 on
// success. A program with a panel calls InitEngine instead.
int InitConsoleEngine(int argc, char* argv[]);
// Runs the pending events nested in the caller (the receive notification
// among them); waits briefly when none is pending.
int ProcessSystemEvents();

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
// Runs callback(data) once from the event processing, `seconds` from now (0:
// at the next pass), never nested inside itself. Asking again for the same
// callback before it ran moves it to the new time.
int ScheduleCallback(double seconds, void (*callback)(void* data), void* data);
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
// Text files written as they grow (a record that must survive a crash)
// ---------------------------------------------------------------------------

constexpr int MAX_TEXT_FILES = 4;  // text files open at the same time

// Opens `fileName` for writing text: created when missing, then emptied
// (FILE_TRUNCATE) or written on at its end (FILE_APPEND). Returns a handle
// (>= 0), FILE_ERR_OPEN, FILE_ERR_NOT_FILE (anything but a regular file),
// FILE_ERR_ARGS, or FILE_ERR_WRITE when MAX_TEXT_FILES are open already.
int OpenTextFile(const char* fileName, int fileAction);
// Appends `length` bytes of `text` (a line with its line end). The bytes may
// wait in a buffer until FlushTextFile. 0, or FILE_ERR_WRITE / FILE_ERR_ARGS.
int AppendTextFile(int handle, const char* text, int length);
// Hands everything written so far to the operating system, so it survives
// the end of the program. 0, or FILE_ERR_WRITE / FILE_ERR_ARGS.
int FlushTextFile(int handle);
// Flushes and closes; the handle is free afterwards, also on failure.
// 0, or FILE_ERR_WRITE / FILE_ERR_ARGS.
int CloseTextFile(int handle);

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

// What the program made of the line, for the line log: a request it wrote
// (numbered), and what became of bytes it received.
constexpr int LINE_REPLY = 1;      // a frame taken as the reply to a request expecting one
constexpr int LINE_NOTIFIED = 2;   // a frame taken by the receive notification (nothing asked for it)
constexpr int LINE_LATE = 3;       // a frame answering a request already given up: dropped
constexpr int LINE_NOISE = 4;      // bytes that no open request explains: dropped
constexpr int LINE_AMBIGUOUS = 5;  // bytes that do not divide into whole frames: dropped
constexpr int LINE_CUT = 6;        // part of a frame, cut short by a quiet line or a flush: dropped
constexpr int LINE_REQUEST = 7;    // a request written
// Writes one such entry: `count` bytes at `bytes` (the log shows at most the
// first 36) and the number of the request concerned (0: none).
void LineLogVerdict(int port, int verdict, const char* bytes, int count, unsigned request);

// Port numbers: ORVANSCOPE_COM<n> names the device of port n (read at every
// open and refresh); the other numbers go to the devices the system lists,
// each keeping its number for the whole run, also while it is unplugged.

// Device that port `port` maps to ("" when none), for labels and messages;
// also a device that is not connected now.
const char* ComPortDevice(int port);
// Reads the system's list of serial devices again: new devices get numbers,
// missing ones are marked not connected, and open ports whose device has come
// back are opened again (COM_EVT_REOPENED). Returns 1 when what some port
// number shows (its device, or whether it is connected) changed, else 0.
int RefreshComPorts();
// 1 when the device of port `port` is connected (as of the last refresh; a
// device named by ORVANSCOPE_COM<n>: when its path exists), else 0.
int ComPortPresent(int port);
// Why the last open of `port` failed, as the system or the runtime saw it
// ("no such device", "Permission denied", "in use by another program", "not
// a terminal", ...); "" after a successful open or when no reason is known.
const char* ComOpenFailureReason(int port);

// ---------------------------------------------------------------------------
// Line log
// ---------------------------------------------------------------------------

// The line log records what passes on the serial ports: opens, closes,
// failures, and every frame sent ("tx") and received ("rx") in hex. It is off
// unless switched on here or by the toolkit's logging rules (category
// "orvanscope.line").

// Switches the line log on and writes it to standard error from now on, each
// line stamped with the local time to the millisecond. A line about port
// `port` names it `name` (e.g. the device a program opened by path) instead
// of "COM<port>".
void TraceLineToStderr(int port, const char* name);
