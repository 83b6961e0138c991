// The status buffer and the hand-over of status texts and the word counter to
// the front end's report.
#include "com232/report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace orv {

std::array<char, STATUS_LEN> szStatus{};

namespace {

Report* frontEnd = nullptr;

// How the texts that report failures begin (the port open's messages among
// them), and what the refusals of a file say after its name.
constexpr const char* FAILURE_STARTS[] = {
    "error : ",        "read error",   "Timeout",           "< 36 Bytes",    "Transmit error",
    "Read-back error", "Cannot ",      "Recording stopped", "No correction", "No serial port",
    "Unknown ",        "Invalid port", "Port is not open",  "RS-232 error",
};
constexpr const char* FILE_REFUSALS[] = {": only ", ": element ", ": pair ", " is not a regular file"};

}  // namespace

bool IsFailureStatus(const char* text) {
    if (text == nullptr)
        return false;
    for (const char* start : FAILURE_STARTS)
        if (std::strncmp(text, start, std::strlen(start)) == 0)
            return true;
    for (const char* refusal : FILE_REFUSALS)
        if (std::strstr(text, refusal) != nullptr)
            return true;
    return false;
}

void SetReport(Report* report) {
    frontEnd = report;
}

void ShowStatus(const char* text) {
    if (frontEnd != nullptr)
        frontEnd->Status(text);
}

void SetStatusText(const char* text) {
    std::snprintf(szStatus.data(), szStatus.size(), "%s", text);
}

void ShowStatusF(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(szStatus.data(), szStatus.size(), format, ap);
    va_end(ap);
    ShowStatus(szStatus.data());
}

void ShowWordCount(int32_t words) {
    if (frontEnd != nullptr)
        frontEnd->WordCount(words);
}

}  // namespace orv
