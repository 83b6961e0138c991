// A termination request of the session becomes the same close request as the
// window's close button, so that the program shuts down in order and releases
// its port; a second request ends the process at once.
//
// POSIX: SIGTERM (log-out, a service manager) and SIGINT (a terminal). The
// handler only writes a byte into a pipe that the event loop watches.
// Windows: Ctrl+C and Ctrl+Break, for a program started from a console. The
// system calls the handler on a thread of its own; it only queues the request
// into the event loop. (Closing the console ends the process whatever the
// handler does, so that is left to the system.)
#include <QObject>

#include "runtime/panel/panel_parts.h"

#ifdef _WIN32
#include <QMetaObject>
#include <QPointer>

#include <atomic>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <QSocketNotifier>

#include <csignal>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace orv_rt {

namespace {

#ifdef _WIN32

QPointer<QObject> g_owner;
std::atomic<bool> g_requested{false};

BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            break;
        default:
            return FALSE;
    }
    if (g_requested.exchange(true))
        return FALSE;  // the second request: the default handling ends the process
    QObject* owner = g_owner.data();
    if (!owner)
        return FALSE;
    QMetaObject::invokeMethod(
        owner, [] { CloseEveryPanel(); }, Qt::QueuedConnection);
    return TRUE;
}

#else

int g_termPipe[2] = {-1, -1};

void OnTermSignal(int sig) {
    const char b = static_cast<char>(sig);
    const ssize_t n = ::write(g_termPipe[1], &b, 1);
    static_cast<void>(n);  // a full pipe already holds a request
}

void SetTermHandler(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

// A pipe whose ends do not block and are not inherited by child processes.
bool OpenPipe(int fds[2]) {
    if (::pipe(fds) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0 ||
            ::fcntl(fds[i], F_SETFL, ::fcntl(fds[i], F_GETFL) | O_NONBLOCK) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            fds[0] = fds[1] = -1;
            return false;
        }
    }
    return true;
}

#endif

}  // namespace

void WatchTermination(QObject* owner) {
#ifdef _WIN32
    if (g_owner)
        return;
    g_owner = owner;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    if (g_termPipe[0] >= 0 || !OpenPipe(g_termPipe))
        return;
    auto* notifier = new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char b = 0;
        while (::read(g_termPipe[0], &b, 1) > 0) {
        }
        SetTermHandler(SIG_DFL);
        CloseEveryPanel();
    });
    SetTermHandler(OnTermSignal);
#endif
}

}  // namespace orv_rt
