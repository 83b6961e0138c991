// The status texts on standard error, the flash programming's progress, and
// the outcome of the run (its failure message, its JSON object).
#include <bitset>
#include <cstdio>
#include <cstring>

#include "cli/cli.h"
#include "com232/flash.h"
#include "com232/report.h"
#include "runtime/platform/platform.h"

namespace orv_cli {

namespace {

constexpr int FIRST_PAGE = 4;
constexpr int BAR_WIDTH = 32;

class StderrReport : public orv::Report {
  public:
    StderrReport(const Common& c) : quiet_(c.quiet), tty_(orv_platform::ErrorIsTerminal()), label_(c.label) {}

    void Status(const char* text) override {
        // A text shown again at once (every measurement says "Line Ok!", every
        // flash block its outcome) is printed once.
        if (std::strcmp(text, last_) == 0)
            return;
        std::snprintf(last_, sizeof last_, "%s", text);
        if (!quiet_)
            Print(text);
    }

    // The bar runs over the pages asked for; the word counter starts again
    // on every page (and on every new attempt at one).
    void WordCount(int32_t words) override {
        if (words == 0 || orv::flash_page < FIRST_PAGE) {
            EndBar(false);
            return;
        }
        if (!tty_ || quiet_)
            return;
        const int32_t planned = orv::flash_pages & orv::FLASH_ALL_PAGES;
        const int before = static_cast<int>(
            std::bitset<4>(static_cast<unsigned>(planned & ((1 << (orv::flash_page - FIRST_PAGE)) - 1)))
                .count());
        const int total =
            static_cast<int>(std::bitset<4>(static_cast<unsigned>(planned)).count()) * orv::PAGE_WORDS;
        const int done = before * orv::PAGE_WORDS + words;
        const int filled = total > 0 ? done * BAR_WIDTH / total : 0;
        char bar[BAR_WIDTH + 1];
        for (int i = 0; i < BAR_WIDTH; ++i)
            bar[i] = i < filled ? '#' : '.';
        bar[BAR_WIDTH] = '\0';
        std::fprintf(stderr, "\r[%s] page%d %4d/%d words", bar, static_cast<int>(orv::flash_page), done,
                     total);
        std::fflush(stderr);
        barShown_ = true;
    }

    const char* Last() const { return last_; }

    // A line of this program's own: led by the line in quiet mode, where it
    // may be one of many sensors' lines in a script's log.
    void Say(const std::string& text) {
        EndBar(true);
        std::fprintf(stderr, "%s: %s\n", quiet_ && !label_.empty() ? label_.c_str() : "orvanscope-cli",
                     text.c_str());
    }

    bool Quiet() const { return quiet_; }

    // keep: the bar stays on its line (it shows how far the programming got).
    void EndBar(bool keep) {
        if (barShown_)
            std::fputs(keep ? "\n" : "\r\033[K", stderr);
        barShown_ = false;
    }

  private:
    void Print(const char* text) {
        EndBar(false);
        std::fprintf(stderr, "%s\n", text);
    }

    bool quiet_;
    bool tty_;
    std::string label_;
    bool barShown_ = false;
    char last_[orv::STATUS_LEN * 2] = {};
};

StderrReport* report = nullptr;
std::string failure;  // the first failure's message
Json result = Json::object();

}  // namespace

void InstallReport(const Common& c) {
    static StderrReport instance(c);
    report = &instance;
    orv::SetReport(report);
}

std::string LastStatus() {
    return report != nullptr ? report->Last() : "";
}

void EndProgress(bool keep) {
    if (report != nullptr)
        report->EndBar(keep);
}

Json& Result() {
    return result;
}

int Fail(int code, const std::string& message) {
    if (failure.empty())
        failure = message;
    if (report != nullptr)
        report->Say(message);
    else
        std::fprintf(stderr, "orvanscope-cli: %s\n", message.c_str());
    return code;
}

int FailStatus(int code) {
    const std::string text = LastStatus();
    if (failure.empty())
        failure = text;
    if (report != nullptr && report->Quiet() && !text.empty())
        report->Say(text);
    return code;
}

void Note(const std::string& message) {
    if (report != nullptr && !report->Quiet())
        report->Say(message);
}

void PrintOutcome(int code) {
    Json j = {{"ok", code == EXIT_DONE},
              {"exit", code},
              {"status", LastStatus()},
              {"error", failure.empty() ? Json(nullptr) : Json(failure)}};
    for (const auto& [key, value] : result.items())
        j[key] = value;
    // A path need not be UTF-8: such bytes are replaced rather than refused.
    std::printf("%s\n", j.dump(-1, ' ', false, Json::error_handler_t::replace).c_str());
    std::fflush(stdout);
}

}  // namespace orv_cli
