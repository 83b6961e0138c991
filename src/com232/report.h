// How the protocol-and-files core tells the operator what happens: the status
// texts and the flash word counter go to a report that the front end provides
// (the panel shows them on its status line and word counter; a program
// without a window prints them).
#pragma once

#include <array>
#include <cstdint>

#if defined(__GNUC__) || defined(__clang__)
#define ORV_PRINTF(formatIndex, firstArg) __attribute__((format(printf, formatIndex, firstArg)))
#else
#define ORV_PRINTF(formatIndex, firstArg)
#endif

namespace orv {

constexpr int STATUS_LEN = 64;

// Where composed status messages are put together before they are shown.
extern std::array<char, STATUS_LEN> szStatus;

class Report {
  public:
    virtual ~Report() = default;
    // A text for the status line.
    virtual void Status(const char* text) = 0;
    // The flash word counter (1..256 over a page, 0 at the end).
    virtual void WordCount(int32_t words) = 0;
};

// Installs the front end's report; nullptr shows nothing.
void SetReport(Report* report);

// Shows `text` on the status line.
void ShowStatus(const char* text);
// Copies `text` into szStatus (truncated to fit, always terminated) without showing it.
void SetStatusText(const char* text);
// Formats into szStatus (always terminated, never overflowing) and shows it.
void ShowStatusF(const char* format, ...) ORV_PRINTF(1, 2);
// Shows the flash word counter.
void ShowWordCount(int32_t words);

// Whether a status text reports a failure: a time-out, a reply that is not
// what was asked for, a frame not sent, a port that cannot be opened, a flash
// page not written, a file refused or not written, a recording stopped.
bool IsFailureStatus(const char* text);

}  // namespace orv
