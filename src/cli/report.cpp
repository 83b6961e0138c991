// The status texts on standard error, and the flash programming's progress.
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define ORV_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define ORV_ISATTY(fd) isatty(fd)
#endif

#include "cli/cli.h"
#include "com232/flash.h"
#include "com232/report.h"

namespace orv_cli {

namespace {

constexpr int PAGES = 4;  // flash pages 4..7
constexpr int BAR_WIDTH = 32;

class StderrReport : public orv::Report {
  public:
    explicit StderrReport(bool quiet) : quiet_(quiet), tty_(ORV_ISATTY(2) != 0) {}

    void Status(const char* text) override {
        // A text shown again at once (every measurement says "Line Ok!", every
        // flash block its outcome) is printed once.
        if (std::strcmp(text, last_) == 0)
            return;
        std::snprintf(last_, sizeof last_, "%s", text);
        if (!quiet_)
            Print(text);
    }

    void WordCount(int32_t words) override {
        if (words == 0) {
            EndBar();
            page_ = 0;
            lastWords_ = 0;
            return;
        }
        if (words < lastWords_ && page_ + 1 < PAGES)
            ++page_;  // the counter starts again on the next page
        lastWords_ = words;
        if (!tty_ || quiet_)
            return;
        const int done = page_ * orv::PAGE_WORDS + words;
        const int total = PAGES * orv::PAGE_WORDS;
        const int filled = done * BAR_WIDTH / total;
        char bar[BAR_WIDTH + 1];
        for (int i = 0; i < BAR_WIDTH; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[BAR_WIDTH] = '\0';
        std::fprintf(stderr, "\r[%s] page%d %4d/%d words", bar, 4 + page_, done, total);
        std::fflush(stderr);
        barShown_ = true;
    }

    // In quiet mode: the text that explains a failure, which was not printed.
    void PrintLast() {
        if (quiet_ && last_[0] != '\0')
            Print(last_);
    }

    void EndBar() {
        if (barShown_) {
            std::fputs("\r\033[K", stderr);
            barShown_ = false;
        }
    }

  private:
    void Print(const char* text) {
        EndBar();
        std::fprintf(stderr, "%s\n", text);
    }

    bool quiet_;
    bool tty_;
    bool barShown_ = false;
    int page_ = 0;
    int32_t lastWords_ = 0;
    char last_[orv::STATUS_LEN * 2] = {};
};

StderrReport* report = nullptr;

}  // namespace

void InstallReport(bool quiet) {
    static StderrReport instance(quiet);
    report = &instance;
    orv::SetReport(report);
}

void ReportFailure() {
    if (report != nullptr)
        report->PrintLast();
}

void EndProgress() {
    if (report != nullptr)
        report->EndBar();
}

}  // namespace orv_cli
