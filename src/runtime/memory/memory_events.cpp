// The virtual clock and the event processing of the memory runtime.
//
// Time passes only when the program or a test lets it: Delay moves the clock
// on, a serial read moves it to the arrival of the bytes it waits for (or to
// its time-out), and a step of event processing (ProcessSystemEvents, the
// loop of RunUserInterface, the driver's WaitUntil and Pump, the waits of an
// in-memory sensor) runs what is due, or first moves the clock to the next
// event, at most 10 ms on. Due are: the receive notification of a port whose
// input queue holds its notify count (again at the next step while it does,
// never nested in itself and never inside a serial read), the closing of a
// port whose line vanished, actions queued with rt_test::After, and the ticks
// of enabled timer controls (never nested in the same timer's tick). A step
// runs what was due when it began: anything that becomes due meanwhile waits
// for the next step, as in the event loop of the real runtime.
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

struct Scheduled {
    double atMs;
    std::uint64_t seq;
    std::function<void()> action;
};

struct State {
    double nowMs = kStartMs;
    std::vector<Scheduled> scheduled;
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
    double next = kNever;
    for (const Scheduled& s : S().scheduled)
        next = std::min(next, s.atMs);
    return next;
}

// The scheduled action due by `limitMs` that was queued before `seqLimit`,
// earliest first; removed from the queue.
bool TakeScheduled(double limitMs, std::uint64_t seqLimit, Scheduled* out) {
    auto& list = S().scheduled;
    auto best = list.end();
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (it->atMs > limitMs || it->seq >= seqLimit)
            continue;
        if (best == list.end() || it->atMs < best->atMs || (it->atMs == best->atMs && it->seq < best->seq))
            best = it;
    }
    if (best == list.end())
        return false;
    *out = std::move(*best);
    list.erase(best);
    return true;
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
    Scheduled s;
    while (TakeScheduled(t, seqLimit, &s))
        s.action();
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
    S().scheduled.push_back({std::max(atMs, S().nowMs), S().nextSeq++, std::move(action)});
}

void DropScheduled() {
    S().scheduled.clear();
}

Engine& EngineKind() {
    return S().engine;
}

void TimerSwitched(int panel, int control, bool running, int intervalMs) {
    if (!running) {
        S().timers.erase({panel, control});
        return;
    }
    const int run = ++S().timerRuns;
    S().timers[{panel, control}] = run;
    const int interval = std::max(1, intervalMs);
    ScheduleTick({panel, control}, run, S().nowMs + interval, interval);
}

void ForgetTimers(int panel) {
    std::erase_if(S().timers, [panel](const auto& t) { return t.first.first == panel; });
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

}  // namespace orv_rt::face

double Timer() {
    return S().nowMs / 1000.0;
}

void Delay(double seconds) {
    if (!(seconds > 0))
        return;
    AdvanceTo(S().nowMs + std::min(seconds, 86400.0) * 1000.0);
}
