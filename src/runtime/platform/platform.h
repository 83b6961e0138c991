// What differs between the operating systems under the runtime and
// orvanscope-cli, behind one toolkit-free face: the session's requests to
// stop, regular files read without blocking, files replaced whole, the
// console, the local time of day, and what the serial devices of the system
// allow beyond the toolkit. A build links one implementation:
// platform_posix.cpp or platform_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orv_platform {

// --- The session's requests to stop ------------------------------------------

constexpr int STOP_INTERRUPT = 2;   // SIGINT; on Windows Ctrl+C
constexpr int STOP_TERMINATE = 15;  // SIGTERM; on Windows Ctrl+Break, the console closed, log-off, shut-down

// Called for each request with its kind: on POSIX inside the signal handler,
// on Windows on a thread of the system's. It may only set flags (atomics,
// sig_atomic_t) and write to a pipe.
using StopHandler = void (*)(int request);
void WatchStopRequests(StopHandler handler);
// From now on a request ends the process at once, as if nobody watched.
void EndAtNextStopRequest();
// The program has done what a request asked it to finish. Windows ends a
// process whose console is closed as soon as the handler returns, so there
// the handler waits for this (a few seconds at most).
void StopRequestDone();
// How the operator made the request: "SIGINT", "SIGTERM"; "Ctrl+C", "Ctrl+Break".
const char* StopRequestName(int request);

// --- Files -------------------------------------------------------------------

// Results of Open (the values of rtcore.h's FILE_ERR_OPEN and FILE_ERR_NOT_FILE).
constexpr int OPEN_FAILED = -1;
constexpr int OPEN_NOT_REGULAR = -6;

// A regular file read from its start. Anything else (a FIFO, a device, a
// directory) is refused before it is opened, and again after, in case the
// name was replaced in between; opening never waits for a FIFO's writer.
class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();
    // 0, OPEN_FAILED or OPEN_NOT_REGULAR.
    int Open(const char* path);
    // At most `size` bytes: the count, 0 at the end of the file, -1 on an error.
    long long Read(char* to, std::size_t size);

  private:
    std::intptr_t handle_ = -1;
};

// Writes `size` bytes into a new file beside `path` and, once they are on the
// disk, renames it over `path`: a reader sees the old file or the new one,
// never half of one. `path` is the file itself (links already followed).
// False, with nothing left behind, when any step fails.
bool WriteBesideAndRename(const std::string& path, const char* data, std::size_t size);

// --- The console ---------------------------------------------------------------

// Standard output and standard error carry the same bytes as on every system
// (on Windows: no carriage return is added to a line end).
void RawStandardStreams();
// Whether standard error is a terminal that takes the escape sequences of a
// progress line ("\r", "ESC[K").
bool ErrorIsTerminal();
// The local time of day to the millisecond, "HH:MM:SS.mmm", into `out` (at least 13 chars).
void LocalTimeOfDay(char* out, std::size_t size);

// --- Serial devices ------------------------------------------------------------
// What a serial device must be, beyond what the toolkit checks, for the
// program to open it: POSIX: a character device and a terminal that no other
// program holds (a lock on the device itself, whatever name reached it).
// Windows: the system opens a communications port for one program only.

// Why `path` cannot be a serial device ("" when it may be one); `missing`
// tells a device that is not there at all.
std::string NotASerialDevice(const std::string& path, bool* missing);
// Checks an opened device by its handle (a file descriptor on POSIX) and
// takes it for this program: "" or why not ("not a terminal", "in use by
// another program").
std::string TakeSerialDevice(std::intptr_t handle);
// Bytes the driver holds for the handle that nobody has read yet (0 where
// the system does not tell).
long DriverPending(std::intptr_t handle);
// Whether a device opened by path can come back at that path after it went
// (a pseudo-terminal named by its own path cannot; a link to one can).
bool DeviceCanReturn(const std::string& path);
// Whether `path` names something that exists.
bool PathExists(const std::string& path);

// USB adapters whose driver holds received bytes for a latency timer (a
// setting in a small file of the system's).
// The number at the start of such a file, or -1.
int ReadSettingFile(const std::string& path);
// Writes `text` into such a file; false when refused.
bool WriteSettingFile(const std::string& path, const char* text);
// Sets the serial driver's low-latency flag on the opened device; false where
// the driver has no such setting (a pseudo-terminal) or refuses it.
bool SetLowLatency(std::intptr_t handle);

}  // namespace orv_platform
