// The serial line, modelled once for every runtime, without the toolkit. The
// model implements the serial services of rtcore.h; a face underneath moves
// the bytes: the real serial port (core/serial_*.cpp), the in-memory line
// (memory/memory_serial.cpp). A runtime links one face, which defines the
// functions of orv_line::face. What the model keeps, whatever the face:
// - The receive queue: bytes fetched from the face and not yet read, at most
//   the input queue size given at open (0: no bound) where the face can hold
//   the rest back.
// - The receive notification runs from the event processing only (RunDue),
//   never nested in the port's own callback nor inside a read, and again
//   after the callback while the queue still holds the notify count.
// - A read waits through the face until it has its bytes or its time-out
//   passes; a write returns once the bytes are on the wire or it passed.
// - A lost line fails reads and writes at once with COM_ERR_IO and is closed
//   underneath at the next event processing, until the program closes the
//   port or the face opens it again on its returned device (Reopen; the
//   callback hears COM_EVT_REOPENED from the event processing).
// - Every line of the line log goes through Note, the same for every face,
//   and is kept in memory for the line view (linelog.h), log on or off.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "runtime/rtcore.h"

namespace orv_line {

constexpr int kDefaultTimeoutMs = 2000;

// The line settings of an open port, kept to open it again the same way.
struct Settings {
    long baudRate = 0;
    int parity = 0;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int dataBits = 8;
    int stopBits = 1;
    int inputQueueSize = 0;  // bound of the receive queue; 0: none
    bool handshake = false;  // CTS
};

// One port as the model keeps it. Faces read it; only the model changes it.
struct Port {
    bool open = false;
    bool dead = false;         // the line was lost: reads and writes fail at once
    bool closedUnder = false;  // a dead port closed underneath by the event processing
    std::string device;        // the device opened
    std::string identity;      // how the face knows the device behind a port number; "" when named
    Settings settings;
    int timeoutMs = kDefaultTimeoutMs;
    ComCallbackPtr callback = nullptr;  // set only when some event it asks for can come
    void* callbackData = nullptr;
    int eventMask = 0;
    int notifyCount = 0;
    bool inCallback = false;  // the port's callback is running
    // Work waiting for the event processing.
    bool checkPosted = false;      // look whether the notification is due
    bool closePending = false;     // close the dead port underneath
    bool reopenedPending = false;  // tell the callback the port is open again
    std::deque<std::uint8_t> in;   // the receive queue
};

// The port `port` (1..MAX_COM_PORTS).
const Port& State(int port);

// --- What a face calls ------------------------------------------------------

// Bytes may have arrived: fetches them, posts the notification when due.
void Arrived(int port);
void Lost(int port, const std::string& why);  // `why` goes to the line log
// Opens a lost port again on `device`, where it is back, with the settings
// and notification it had. `quiet`: a failure is not logged.
bool Reopen(int port, const std::string& device, bool quiet);
// Whether the event processing has work of the model now; running it takes
// each port at most once (what falls due meanwhile waits for the next run).
bool Due();
void RunDue();
// Notes the device and presence every port number shows; true on a change.
bool NoteShown();
// A line of the line log: "COMn <text>", or a whole line.
void Note(int port, const std::string& text);
void Note(const std::string& line);
// ORVANSCOPE_COM<port>, a relative path taken from the directory the program
// was started in; "" when not set.
std::string EnvDevice(int port);

// --- What each face provides (ports 1..MAX_COM_PORTS) -----------------------
namespace face {

// The clock of the time-outs, in ms.
double NowMs();

// The device port `port` maps to ("" when none), connected or not; whether
// it is connected now.
std::string Device(int port);
bool Present(int port);
// Reads the system's device list again and reopens lost ports that are back.
void Rescan();
// The device (and the face's identity of it) to open when the program names
// none: 0, or a COM_ERR_ code with the reason in `why`.
int Find(int port, std::string* device, std::string* identity, std::string* why);

// Opens and configures `device`: 0, or a COM_ERR_ code with the reason in `why`.
int Open(int port, const std::string& device, const Settings& settings, std::string* why);
// After an open or reopen and its line in the log.
void Opened(int port, const std::string& device);
void Close(int port);  // also after the line was lost
void SetHandshake(int port, bool on);
void Lost(int port);  // the model marked the line lost: look out for its return

// Appends what has arrived to `queue` without waiting, at most `room` bytes
// where the device can hold the rest back.
void Fetch(int port, std::deque<std::uint8_t>& queue, std::size_t room);
long Pending(int port);  // bytes the device holds that Fetch has not taken
// Waits until more bytes may have arrived, the line is lost, or `deadlineMs`;
// false when nothing more can come by then.
bool Wait(int port, double deadlineMs);
// Writes; returns the bytes on the wire by `deadlineMs`, or -1 with the
// reason in `why` when the device took none.
int Write(int port, const char* data, int count, double deadlineMs, std::string* why);
void Flush(int port, bool input);  // discards what waits in one direction

void Blocking();         // a read may block: show what changed first
void Wake(int delayMs);  // have the event processing call RunDue (after `delayMs`)
bool LogOn();            // the line log: whether it is on, and one line of it
void Log(const std::string& line);

}  // namespace face

}  // namespace orv_line
