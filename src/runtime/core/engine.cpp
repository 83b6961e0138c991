// The core's engine: start without a window, event processing that waits
// instead of spinning, and the blocking delay.
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <thread>

#include "runtime/core/core_internal.h"
#include "runtime/files/files_internal.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

EventHooks g_hooks;
QPointer<QTimer> g_wake;  // bounds the wait of ProcessSystemEvents

int g_argc = 1;
char g_argv0[] = "OrvanscopeV10";
char* g_fallbackArgv[] = {g_argv0, nullptr};

}  // namespace

void SetEventHooks(const EventHooks& hooks) {
    g_hooks = hooks;
}

void BeforeBlocking() {
    if (g_hooks.beforeBlocking)
        g_hooks.beforeBlocking();
}

void BeforeEvents() {
    if (g_hooks.beforeEvents)
        g_hooks.beforeEvents();
}

int& ApplicationArgs(int argc, char**& argv) {
    if (argc < 1 || !argv) {
        g_argc = 1;
        argv = g_fallbackArgv;
    } else {
        g_argc = argc;
    }
    return g_argc;
}

void StartCore() {
    if (g_wake || !QCoreApplication::instance())
        return;
    g_wake = new QTimer(QCoreApplication::instance());
    g_wake->setSingleShot(true);
    g_wake->setTimerType(Qt::PreciseTimer);
    g_wake->setInterval(10);
    RememberProjectDir();
}

}  // namespace orv_rt

int InitConsoleEngine(int argc, char* argv[]) {
    if (!QCoreApplication::instance()) {
        int& count = orv_rt::ApplicationArgs(argc, argv);
        new QCoreApplication(count, argv);  // lives as long as the process
    }
    orv_rt::StartCore();
    return 1;
}

int ProcessSystemEvents() {
    if (!orv_rt::g_wake)
        return orv_rt::ERR_NO_ENGINE;
    // Runs what is pending; with nothing pending, sleeps until the next event
    // or the short wake-up timer, so a polling caller does not spin a core.
    orv_rt::BeforeEvents();
    orv_rt::g_wake->start();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (orv_rt::g_wake)
        orv_rt::g_wake->stop();
    return 0;
}

void Delay(double seconds) {
    orv_rt::BeforeBlocking();
    if (!(seconds > 0))
        return;
    std::this_thread::sleep_for(std::chrono::duration<double>(std::min(seconds, 86400.0)));
}
