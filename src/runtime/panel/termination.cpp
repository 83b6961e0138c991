// A termination request of the session becomes the same close request as the
// window's close button, so that the program shuts down in order and releases
// its port; a second request ends the process at once.
//
// The requests come through the platform face (SIGTERM and SIGINT on POSIX;
// Ctrl+C, Ctrl+Break and the console closing on Windows), whose handler may
// only set a flag: the event loop looks at it ten times a second.
#include <QObject>
#include <QTimer>

#include <atomic>

#include "runtime/panel/panel_parts.h"
#include "runtime/platform/platform.h"

namespace orv_rt {

namespace {

constexpr int kLookMs = 100;

std::atomic<bool> g_requested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopRequest(int) {
    g_requested = true;
}

}  // namespace

void WatchTermination(QObject* owner) {
    static QTimer* look = nullptr;
    if (look)
        return;
    look = new QTimer(owner);
    look->setInterval(kLookMs);
    QObject::connect(look, &QTimer::timeout, owner, [] {
        if (!g_requested.exchange(false))
            return;
        orv_platform::EndAtNextStopRequest();
        CloseEveryPanel();
        orv_platform::StopRequestDone();
    });
    look->start();
    orv_platform::WatchStopRequests(OnStopRequest);
}

}  // namespace orv_rt
