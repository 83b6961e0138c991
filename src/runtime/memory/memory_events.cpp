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

#include "runtime/files/files_internal.h"
#include "runtime/memory/memory_internal.h"
#include "runtime/runtime.h"

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
    int depth = 0;
    bool quitRequested = false;
    int quitCode = 0;
    int argc = 1;
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
    for (int h : PanelHandles())
        DeliverPanel(h, EVT_CLOSE);
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
    if (g_termRequested || SerialDue() || ScheduledNextMs() <= now)
        return true;
    int panel = 0, control = 0;
    double due = 0;
    return NextTick(now, &panel, &control, &due);
}

void RunDue() {
    const double t = S().nowMs;
    const std::uint64_t seqLimit = S().nextSeq;
    DeliverTermination();
    SerialRun();
    // Actions and ticks due when the step began, in the order they fell due.
    for (;;) {
        int panel = 0, control = 0;
        double tickMs = kNever;
        const bool tick = NextTick(t, &panel, &control, &tickMs);
        double actionMs = kNever;
        for (const Scheduled& s : S().scheduled)
            if (s.seq < seqLimit)
                actionMs = std::min(actionMs, s.atMs);
        if (!tick && actionMs > t)
            break;
        if (actionMs <= tickMs) {
            Scheduled s;
            if (TakeScheduled(t, seqLimit, &s))
                s.action();
            continue;
        }
        Control* c = FindControl(panel, control);
        // The next tick counts from this one; a tick missed while the clock
        // jumped (a long Delay or read) is not made up for.
        const double interval = std::max(1, c->intervalMs);
        c->dueMs += interval;
        if (c->dueMs <= S().nowMs)
            c->dueMs = S().nowMs + interval;
        if (c->busy)
            continue;  // the tick's callback processes events: not re-entered
        c->busy = true;
        DeliverCtrl(panel, control, EVT_TIMER_TICK, false);
        if (Control* again = FindControl(panel, control))
            again->busy = false;
    }
}

// Whether anything at all can still happen without the test acting.
bool SomethingCanHappen() {
    return g_termRequested || !S().scheduled.empty() || AnyTimerRunning() || SerialDue() || SerialBusy();
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
        double next = std::min({SerialNextMs(), ScheduledNextMs(), TimersNextMs()});
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
int& Depth() {
    return S().depth;
}
bool& QuitRequested() {
    return S().quitRequested;
}
int& QuitCode() {
    return S().quitCode;
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
        return ERR_NO_ENGINE;
    Step();
    return 0;
}

int RunUserInterface() {
    State& s = S();
    if (s.engine != Engine::Panels)
        return ERR_NO_ENGINE;
    while (!(s.quitRequested && s.depth == 0)) {
        if (!s.quitRequested && !SomethingCanHappen()) {
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
    s.quitRequested = false;
    return s.quitCode;
}

int QuitUserInterface(int code) {
    S().quitRequested = true;
    S().quitCode = code;
    return 0;
}

double Timer() {
    return S().nowMs / 1000.0;
}

void Delay(double seconds) {
    if (!(seconds > 0))
        return;
    AdvanceTo(S().nowMs + std::min(seconds, 86400.0) * 1000.0);
}
