// The core's engine on the toolkit's event loop: start without a window,
// event processing that waits instead of spinning, callbacks run later.
#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <map>

#include "runtime/core/core_internal.h"
#include "runtime/files/files_internal.h"
#include "runtime/rtcore.h"

namespace orv_rt {

namespace {

QPointer<QTimer> g_wake;  // bounds the wait of ProcessSystemEvents

int g_argc = 1;
char g_argv0[] = "OrvanscopeV10";
char* g_fallbackArgv[] = {g_argv0, nullptr};

}  // namespace

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

namespace {

struct Pending {
    QPointer<QTimer> timer;
    void* data = nullptr;
    bool running = false;
};

std::map<void (*)(void*), Pending>& PendingCalls() {
    static std::map<void (*)(void*), Pending> calls;
    return calls;
}

}  // namespace

int ScheduleCallback(double seconds, void (*callback)(void* data), void* data) {
    if (!callback || !QCoreApplication::instance())
        return orv_rt::ERR_NO_ENGINE;
    Pending& p = PendingCalls()[callback];
    p.data = data;
    if (!p.timer) {
        p.timer = new QTimer(QCoreApplication::instance());
        p.timer->setSingleShot(true);
        p.timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(p.timer, &QTimer::timeout, p.timer, [callback] {
            Pending& q = PendingCalls()[callback];
            if (q.running) {
                q.timer->start(1);  // never nested inside itself: once it has returned
                return;
            }
            q.running = true;
            callback(q.data);
            q.running = false;
        });
    }
    const double ms = seconds > 0 ? std::min(seconds, 86400.0) * 1000.0 : 0.0;
    p.timer->start(static_cast<int>(std::ceil(ms)));
    return 0;
}
