// The memory runtime's face of the panel model: the virtual clock, the event
// processing and the timers' ticks on it; nothing shows the panels.
//
// Time passes only when the program or a test lets it: Delay moves the clock
// on, a serial read moves it to the arrival of the bytes it waits for (or to
// its time-out), and a step of event processing (ProcessSystemEvents, the
// loop of RunUserInterface, the driver's WaitUntil and Pump, the waits of an
// in-memory sensor) runs what is due, or first moves the clock to the next
// event, at most 10 ms on. Due are: the receive notification of a port whose
// input queue holds its notify count, the closing of a port whose line
// vanished, and the actions queued (rt_test::After, the model's posted
// events, the ticks of enabled timer controls). A step runs what was due when
// it began: anything that becomes due meanwhile waits for the next step, as
// in the event loop of the real runtime.
//
// As in the real runtime, a termination request (SIGTERM, SIGINT) becomes a
// close request of every panel at the next step, and a second one ends the
// process; the handlers are taken over only where nobody else (a fuzzer's
// driver) has installed one.
#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>

#include "runtime/files/files_internal.h"
#include "runtime/memory/memory_internal.h"
#include "runtime/model/panel_model.h"

namespace orv_mem {

namespace {

// The clock starts at an arbitrary point, as a steady clock does.
constexpr double kStartMs = 1.0e6;

enum class Engine { None, Console, Panels };

struct State {
    double nowMs = kStartMs;
    // Actions queued, by the time they are due and the order they were queued.
    std::map<std::pair<double, std::uint64_t>, std::function<void()>> scheduled;
    std::uint64_t nextSeq = 0;
    Engine engine = Engine::None;
    int argc = 1;
    // The running timer controls (panel, control): the number of their
    // switching on, which their scheduled ticks carry.
    std::map<std::pair<int, int>, int> timers;
    int timerRuns = 0;
};

State& S() {
    static State s;
    return s;
}

char g_argv0[] = "OrvanscopeV10";
char* g_fallbackArgv[] = {g_argv0, nullptr};

volatile std::sig_atomic_t g_termRequested = 0;

void OnTermSignal(int) {
    g_termRequested = 1;
}

void WatchTermination() {
#ifndef _WIN32
    for (int sig : {SIGTERM, SIGINT}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0 || old.sa_handler != SIG_DFL)
            continue;
        struct sigaction sa {};
        sa.sa_handler = OnTermSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(sig, &sa, nullptr);
    }
#endif
}

// Delivers a termination request as the close request of every panel.
void DeliverTermination() {
    if (!g_termRequested)
        return;
    g_termRequested = 0;
#ifndef _WIN32
    for (int sig : {SIGTERM, SIGINT}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == OnTermSignal)
            std::signal(sig, SIG_DFL);
    }
#endif
    orv_rt::CloseEveryPanel();
}

double ScheduledNextMs() {
    return S().scheduled.empty() ? kNever : S().scheduled.begin()->first.first;
}

// The earliest action due by `limitMs` that was queued before `seqLimit`,
// taken from the queue; an empty function when there is none.
std::function<void()> TakeScheduled(double limitMs, std::uint64_t seqLimit) {
    auto& queue = S().scheduled;
    for (auto it = queue.begin(); it != queue.end() && it->first.first <= limitMs; ++it) {
        if (it->first.second < seqLimit) {
            std::function<void()> action = std::move(it->second);
            queue.erase(it);
            return action;
        }
    }
    return {};
}

bool DueNow() {
    const double now = S().nowMs;
    return g_termRequested || SerialDue() || ScheduledNextMs() <= now;
}

void RunDue() {
    const double t = S().nowMs;
    const std::uint64_t seqLimit = S().nextSeq;
    DeliverTermination();
    SerialRun();
    // Actions and ticks due when the step began, in the order they fell due.
    while (std::function<void()> action = TakeScheduled(t, seqLimit))
        action();
}

// The next tick of timer `timer` in its run `run`, at `atMs`.
void ScheduleTick(std::pair<int, int> timer, int run, double atMs, int intervalMs) {
    Schedule(atMs, [=] {
        const auto it = S().timers.find(timer);
        if (it == S().timers.end() || it->second != run)
            return;  // switched off (and maybe on again) since
        // The next tick counts from this one; a tick missed while the clock
        // jumped (a long Delay or read) is not made up for.
        const double next = atMs + intervalMs;
        ScheduleTick(timer, run, next > S().nowMs ? next : S().nowMs + intervalMs, intervalMs);
        orv_rt::Tick(timer.first, timer.second);
    });
}

void SwitchTimer(int panel, int control, bool running, int intervalMs) {
    if (!running) {
        S().timers.erase({panel, control});
        return;
    }
    const int run = ++S().timerRuns;
    S().timers[{panel, control}] = run;
    const int interval = std::max(1, intervalMs);
    ScheduleTick({panel, control}, run, S().nowMs + interval, interval);
}

// Whether anything at all can still happen without the test acting.
bool SomethingCanHappen() {
    return g_termRequested || !S().scheduled.empty() || SerialDue() || SerialBusy();
}

}  // namespace

double NowMs() {
    return S().nowMs;
}

void AdvanceTo(double ms) {
    if (ms > S().nowMs)
        S().nowMs = ms;
}

void Step(double limitMs) {
    SerialPoll();
    if (!DueNow()) {
        double next = std::min(SerialNextMs(), ScheduledNextMs());
        next = std::min({next, S().nowMs + kMaxStepMs, std::max(limitMs, S().nowMs)});
        AdvanceTo(next);
        SerialPoll();
    }
    RunDue();
}

void Schedule(double atMs, std::function<void()> action) {
    S().scheduled.emplace(std::make_pair(std::max(atMs, S().nowMs), S().nextSeq++), std::move(action));
}

void DropScheduled() {
    S().scheduled.clear();
}

}  // namespace orv_mem

using namespace orv_mem;

namespace {

// The engine needs no window system; a core application gives the program's
// location (the panel file lies beside it).
void StartEngine(int argc, char* argv[], Engine kind) {
    State& s = S();
    if (!QCoreApplication::instance()) {
        if (argc < 1 || !argv) {
            s.argc = 1;
            argv = g_fallbackArgv;
        } else {
            s.argc = argc;
        }
        new QCoreApplication(s.argc, argv);
    }
    if (s.engine == Engine::None) {
        s.engine = kind;
        orv_rt::RememberProjectDir();
        orv_rt::RecordStatusLines(true);  // this runtime runs tests only
        if (kind == Engine::Panels)
            WatchTermination();
    }
}

}  // namespace

int InitConsoleEngine(int argc, char* argv[]) {
    StartEngine(argc, argv, Engine::Console);
    return 1;
}

int InitEngine(int argc, char* argv[]) {
    StartEngine(argc, argv, Engine::Panels);
    return S().engine == Engine::Panels ? 1 : 0;  // a console engine shows no panels
}

int ProcessSystemEvents() {
    if (S().engine == Engine::None)
        return orv_rt::ERR_NO_ENGINE;
    Step();
    return 0;
}

namespace orv_rt::face {

bool Ready() {
    return S().engine == Engine::Panels;
}

void RunEvents() {
    if (!QuitPending() && !SomethingCanHappen()) {
        // The real loop would wait for the operator forever; a test that
        // gets here has nothing queued that could ever end it.
        std::fputs(
            "memory runtime: RunUserInterface waits for nothing that can come "
            "(no action queued, no timer running, no bytes on their way)\n",
            stderr);
        std::abort();
    }
    Step();
}

void Post(std::function<void()> action) {
    Schedule(NowMs(), std::move(action));
}

// Nothing shows the panels: only a timer's state matters here.
bool Build(Panel&, const std::string&) {
    return true;
}

void Show(Panel& p, Control& c, int what) {
    if (what == ATR_TIMER_ENABLED)
        SwitchTimer(p.handle, c.id, c.running, c.intervalMs);
}

void Add(Panel&, Control&, int, int) {}

void Display(Panel&) {}

void Discard(Panel& p) {
    std::erase_if(S().timers, [&p](const auto& t) { return t.first.first == p.handle; });
}

void BeforeLeftClick(int, int) {}

void QuitAsked() {}

// Without a screen there is no picture to take: the chart is saved as a
// one-pixel white picture in the format asked for, so the file, its name, its
// format and the failures are those of the real runtime. SVG is not drawn, as
// in a build without Qt's SVG module.
bool ChartPicture(Panel&, Control&, int format, std::string* bytes) {
    static constexpr unsigned char kPng[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48,
        0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00,
        0x00, 0x90, 0x77, 0x53, 0xDE, 0x00, 0x00, 0x00, 0x0C, 0x49, 0x44, 0x41, 0x54, 0x78,
        0x9C, 0x63, 0xF8, 0xFF, 0xFF, 0x3F, 0x00, 0x05, 0xFE, 0x02, 0xFE, 0x0D, 0xEF, 0x46,
        0xB8, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
    static constexpr unsigned char kJpeg[] = {
        0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01, 0x01, 0x00, 0x00, 0x01,
        0x00, 0x01, 0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00, 0x10, 0x0B, 0x0C, 0x0E, 0x0C, 0x0A, 0x10,
        0x0E, 0x0D, 0x0E, 0x12, 0x11, 0x10, 0x13, 0x18, 0x28, 0x1A, 0x18, 0x16, 0x16, 0x18, 0x31, 0x23,
        0x25, 0x1D, 0x28, 0x3A, 0x33, 0x3D, 0x3C, 0x39, 0x33, 0x38, 0x37, 0x40, 0x48, 0x5C, 0x4E, 0x40,
        0x44, 0x57, 0x45, 0x37, 0x38, 0x50, 0x6D, 0x51, 0x57, 0x5F, 0x62, 0x67, 0x68, 0x67, 0x3E, 0x4D,
        0x71, 0x79, 0x70, 0x64, 0x78, 0x5C, 0x65, 0x67, 0x63, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00, 0x01,
        0x00, 0x01, 0x01, 0x01, 0x11, 0x00, 0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07, 0xFF, 0xC4, 0x00, 0x14,
        0x10, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00, 0x40, 0x7F, 0xFF, 0xD9};
    static constexpr unsigned char kBmp[] = {
        0x42, 0x4D, 0x3A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x36, 0x00, 0x00, 0x00, 0x28,
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x18, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00};
    auto take = [bytes](const unsigned char* b, std::size_t n) {
        bytes->assign(reinterpret_cast<const char*>(b), n);
        return true;
    };
    switch (format) {
        case CHART_PNG:
            return take(kPng, sizeof kPng);
        case CHART_JPEG:
            return take(kJpeg, sizeof kJpeg);
        case CHART_BMP:
            return take(kBmp, sizeof kBmp);
        default:
            return false;
    }
}

bool DrawsSvg() {
    return false;
}

// The windows are the model's: a test reads what they show from it.
void ShowStatusHistory(Panel&, Control&) {}
void ShowLineView(Panel&) {}

}  // namespace orv_rt::face

double Timer() {
    return S().nowMs / 1000.0;
}

void Delay(double seconds) {
    if (!(seconds > 0))
        return;
    AdvanceTo(S().nowMs + std::min(seconds, 86400.0) * 1000.0);
}
