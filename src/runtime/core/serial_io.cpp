// Bytes in and out of the real serial port, and the event processing's part.
//
// QSerialPort emits readyRead also inside waitForReadyRead, i.e. inside a
// read: it only hands the bytes to the line model (orv_line::Arrived), which
// posts its checks; they run when the event loop runs (Wake). A write returns
// once the driver has taken the bytes or the time-out passed.
#include <QTimer>

#include <algorithm>
#include <cmath>

#include "runtime/core/core_internal.h"
#include "runtime/core/diag.h"
#include "runtime/core/serial_face.h"
#include "runtime/line/line.h"
#include "runtime/platform/platform.h"

namespace {

using orv_serial::Dev;

// Whole milliseconds until `deadlineMs`, rounded up.
int MsLeft(double deadlineMs) {
    const double left = deadlineMs - orv_line::face::NowMs();
    return left <= 0 ? 0 : static_cast<int>(std::min(std::ceil(left), 86400.0e3));
}

void LostIfGone(int port) {
    QSerialPort* dev = Dev(port);
    if (orv_serial::IsLost(dev->error()))
        orv_line::Lost(port, dev->errorString().toStdString());
}

}  // namespace

namespace orv_line::face {

double NowMs() {
    return Timer() * 1000.0;
}

void Fetch(int port, std::deque<std::uint8_t>& queue, std::size_t room) {
    QSerialPort* dev = Dev(port);
    if (!dev->isOpen())
        return;
    char chunk[1024];
    while (room > 0) {
        const qint64 n = dev->read(chunk, static_cast<qint64>(std::min(room, sizeof chunk)));
        if (n <= 0)
            break;
        queue.insert(queue.end(), chunk, chunk + n);
        room -= static_cast<std::size_t>(n);
    }
}

long Pending(int port) {
    QSerialPort* dev = Dev(port);
    if (!dev->isOpen())
        return 0;
    long n = static_cast<long>(dev->bytesAvailable());
    // Bytes the driver holds that QSerialPort has not fetched yet.
    if (!State(port).dead)
        n += orv_platform::DriverPending(orv_serial::Handle(dev));
    return n;
}

bool Wait(int port, double deadlineMs) {
    QSerialPort* dev = Dev(port);
    const int left = MsLeft(deadlineMs);
    if (left <= 0 || !dev->isOpen())
        return false;
    if (dev->waitForReadyRead(left))
        return true;
    LostIfGone(port);
    return false;
}

int Write(int port, const char* data, int count, double deadlineMs, std::string* why) {
    QSerialPort* dev = Dev(port);
    if (!dev->isOpen()) {
        *why = "device lost";
        return -1;
    }
    const qint64 queued = dev->write(data, count);
    if (queued < 0) {
        *why = dev->errorString().toStdString();
        return -1;
    }
    while (!State(port).dead && dev->isOpen() && dev->bytesToWrite() > 0) {
        const int left = MsLeft(deadlineMs);
        if (left <= 0 || !dev->waitForBytesWritten(left)) {
            LostIfGone(port);
            break;
        }
    }
    const qint64 pending = dev->isOpen() ? dev->bytesToWrite() : queued;
    return static_cast<int>(std::clamp<qint64>(queued - pending, 0, count));
}

void Flush(int port, bool input) {
    QSerialPort* dev = Dev(port);
    if (!dev->isOpen())
        return;
    dev->clear(input ? QSerialPort::Input : QSerialPort::Output);  // Qt's buffer and the driver's queue
    if (!orv_serial::IsLost(dev->error()))
        dev->clearError();
}

void Blocking() {
    orv_rt::BeforeBlocking();  // the read blocks: show what changed first
}

void Wake(int delayMs) {
    static bool pending[2] = {};  // a run at once, a run later
    bool& posted = pending[delayMs > 0 ? 1 : 0];
    if (posted)
        return;
    posted = true;
    QTimer::singleShot(std::max(delayMs, 0), [&posted] {
        posted = false;
        RunDue();
    });
}

bool LogOn() {
    return lcLine().isDebugEnabled();
}

void Log(const std::string& line) {
    qCDebug(lcLine).noquote() << QString::fromStdString(line);
}

}  // namespace orv_line::face
