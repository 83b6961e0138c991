// The status buffer and the hand-over of status texts and the word counter to
// the front end's report.
#include "com232/report.h"

#include <cstdarg>
#include <cstdio>

namespace orv {

std::array<char, STATUS_LEN> szStatus{};

namespace {

Report* frontEnd = nullptr;

}  // namespace

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
