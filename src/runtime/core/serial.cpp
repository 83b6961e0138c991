// Serial port services on QSerialPort.
//
// Port numbers: on Windows port n is "COMn". Elsewhere port n is the device
// named by the environment variable ORVANSCOPE_COM<n> when it is set (read at
// every open, so a simulated sensor on a pseudo-terminal can be plugged in at
// run time), otherwise the n-th entry of the system's serial port list, with
// USB (ttyUSB*) adapters first, then ACM (ttyACM*) adapters, then everything
// else (built-in ttyS* UARTs), each group in natural name order. The list is
// taken once, the first time it is needed.
//
// Opening a port that is already open closes it first and opens it afresh
// (the notification must be installed again).
//
// The receive notification is delivered from the event loop only: readyRead
// (which QSerialPort also emits inside waitForReadyRead, i.e. inside ComRd)
// merely posts one queued check; the check runs when events are processed,
// looks at the input queue again and calls the callback when the notify count
// is reached, then posts again while enough bytes remain. Only the notify-count
// event (COM_EVT_RXCOUNT) is ever raised.
//
// On Linux a USB adapter with a latency timer above 1 ms is set to low latency
// at every open (see usb_latency.h); the line log says what was found and done.
//
// A device that vanishes (USB adapter pulled, simulator closed the line) is
// marked dead on its first read error: the port is closed underneath at the
// next event processing so it stops waking the event loop, reads and writes
// fail at once with COM_ERR_IO, and CloseCom followed by a new open work as
// usual.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cstring>

#ifndef Q_OS_WIN
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#endif

#include "runtime/core/core_internal.h"
#include "runtime/core/diag.h"
#include "runtime/core/usb_latency.h"
#include "runtime/rtcore.h"

namespace {

constexpr int kDefaultTimeoutMs = 2000;

struct ComPort {
    QSerialPort* dev = nullptr;  // made at the first open, kept for the whole run
    bool open = false;
    bool dead = false;  // the device vanished; fail fast until closed
    int timeoutMs = kDefaultTimeoutMs;
    ComCallbackPtr callback = nullptr;
    void* callbackData = nullptr;
    int eventMask = 0;
    int notifyCount = 0;
    bool checkPosted = false;
    bool inCallback = false;
    unsigned generation = 0;  // bumped at every open and close; stale posts see it
};

std::array<ComPort, MAX_COM_PORTS + 1> gPorts;
std::array<std::array<char, MAX_PATHNAME_LEN>, MAX_COM_PORTS + 1> gDeviceNames{};

bool ValidPort(int port) {
    return port >= 1 && port <= MAX_COM_PORTS;
}

QString PortLabel(int port) {
    return QStringLiteral("COM%1").arg(port);
}

QString Hex(const char* data, qsizetype n) {
    return QString::fromLatin1(QByteArray(data, n).toHex(' ').toUpper());
}

#ifndef Q_OS_WIN
// Sort key: group (USB, ACM, other), then name with its trailing number
// compared numerically, so ttyS2 comes before ttyS10.
struct PortKey {
    int group;
    QString stem;
    long number;
    QString name;
};

PortKey KeyOf(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    int group = 2;
    if (name.startsWith(QLatin1String("ttyUSB")))
        group = 0;
    else if (name.startsWith(QLatin1String("ttyACM")))
        group = 1;
    qsizetype digits = name.size();
    while (digits > 0 && name.at(digits - 1).isDigit())
        --digits;
    const QString tail = name.mid(digits);
    return {group, name.left(digits), tail.isEmpty() ? -1 : tail.toLong(), name};
}

const QStringList& SystemPorts() {
    static const QStringList ports = [] {
        QStringList list;
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
            list << info.systemLocation();
        std::sort(list.begin(), list.end(), [](const QString& a, const QString& b) {
            const PortKey ka = KeyOf(a), kb = KeyOf(b);
            if (ka.group != kb.group)
                return ka.group < kb.group;
            if (ka.stem != kb.stem)
                return ka.stem < kb.stem;
            if (ka.number != kb.number)
                return ka.number < kb.number;
            return ka.name < kb.name;
        });
        return list;
    }();
    return ports;
}
#endif

QString DeviceFor(int port) {
    if (!ValidPort(port))
        return {};
#ifdef Q_OS_WIN
    return PortLabel(port);
#else
    const QByteArray env = qgetenv(QStringLiteral("ORVANSCOPE_COM%1").arg(port).toLatin1().constData());
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    const QStringList& ports = SystemPorts();
    return port <= ports.size() ? ports.at(port - 1) : QString();
#endif
}

void PostCheck(int port);

// Runs from the event loop: delivers the notification when enough bytes wait.
void RunCheck(int port, unsigned generation) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (generation != p.generation)
        return;  // posted for an earlier opening of the port
    p.checkPosted = false;
    // Never nested inside the callback: it looks again when it returns.
    if (!p.open || p.dead || !p.callback || p.inCallback || !p.dev->isOpen())
        return;
    if (p.dev->bytesAvailable() < p.notifyCount)
        return;
    p.inCallback = true;
    p.callback(port, COM_EVT_RXCOUNT, p.callbackData);
    p.inCallback = false;
    // The callback may have closed or reopened the port; the generation tells.
    if (generation == p.generation && p.open && !p.dead && p.callback && p.dev->isOpen() &&
        p.dev->bytesAvailable() >= p.notifyCount)
        PostCheck(port);
}

void PostCheck(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (p.checkPosted)
        return;
    p.checkPosted = true;
    const unsigned generation = p.generation;
    QMetaObject::invokeMethod(
        p.dev, [port, generation] { RunCheck(port, generation); }, Qt::QueuedConnection);
}

void OnReadyRead(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (!p.open || p.dead || !p.callback || p.inCallback)
        return;
    if (p.dev->bytesAvailable() >= p.notifyCount)
        PostCheck(port);
}

void MarkDead(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (p.dead || !p.open)
        return;
    p.dead = true;
    qCDebug(lcLine).noquote() << PortLabel(port) << "device lost:" << p.dev->errorString();
    // Closing here could pull the device out from under QSerialPort's own
    // notification handler; close once control is back in the event loop.
    const unsigned generation = p.generation;
    QMetaObject::invokeMethod(
        p.dev,
        [port, generation] {
            ComPort& q = gPorts[static_cast<std::size_t>(port)];
            if (generation == q.generation && q.dead)
                q.dev->close();
        },
        Qt::QueuedConnection);
}

void OnError(int port, QSerialPort::SerialPortError error) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
            return;
        case QSerialPort::UnsupportedOperationError:
            // Pseudo-terminals refuse some line-control ioctls; harmless.
            qCDebug(lcLine).noquote() << PortLabel(port) << "ignored:" << p.dev->errorString();
            return;
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
            MarkDead(port);
            return;
        default:
            qCDebug(lcLine).noquote() << PortLabel(port) << "error:" << p.dev->errorString();
            return;
    }
}

bool IsLost(QSerialPort::SerialPortError e) {
    return e == QSerialPort::ResourceError || e == QSerialPort::ReadError;
}

QSerialPort* DeviceObject(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (!p.dev) {
        p.dev = new QSerialPort;  // lives as long as the process
        QObject::connect(p.dev, &QSerialPort::readyRead, p.dev, [port] { OnReadyRead(port); });
        QObject::connect(p.dev, &QSerialPort::errorOccurred, p.dev,
                         [port](QSerialPort::SerialPortError e) { OnError(port, e); });
    }
    return p.dev;
}

ComPort* OpenPort(int port) {
    if (!ValidPort(port))
        return nullptr;
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    return p.open ? &p : nullptr;
}

int FailCode(int port) {
    return ValidPort(port) ? COM_ERR_NOT_OPEN : COM_ERR_INVALID_PORT;
}

int OpenFailure(int port, const QString& device, int code, const QString& why) {
    qCDebug(lcLine).noquote() << PortLabel(port) << "open" << device << "failed:" << why;
    return code;
}

#ifdef Q_OS_LINUX
// The leading number of a small sysfs attribute file, or -1.
int ReadTimerMs(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    char text[16] = {};
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    bool ok = false;
    const int ms = n > 0 ? QByteArray(text, n).trimmed().toInt(&ok) : -1;
    return ok && ms >= 0 ? ms : -1;
}

bool WriteTimerMs(const QByteArray& path, const char* text) {
    const int fd = ::open(path.constData(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    const auto len = static_cast<ssize_t>(std::strlen(text));
    const bool ok = ::write(fd, text, static_cast<std::size_t>(len)) == len;
    return ::close(fd) == 0 && ok;
}

// Sets the serial driver's low-latency flag; false where the driver has no
// such setting (a pseudo-terminal) or refuses it.
bool SetLowLatencyFlag(int fd) {
    serial_struct ss{};
    if (fd < 0 || ioctl(fd, TIOCGSERIAL, &ss) != 0)
        return false;
    if (ss.flags & ASYNC_LOW_LATENCY)
        return true;
    ss.flags |= ASYNC_LOW_LATENCY;
    return ioctl(fd, TIOCSSERIAL, &ss) == 0;
}
#endif

}  // namespace

orv_rt::UsbLatency orv_rt::AdjustUsbLatency(const QString& label, const QString& ttyName,
                                            const QString& sysClassTty, int fd) {
    UsbLatency r;
#ifdef Q_OS_LINUX
    if (ttyName.isEmpty())
        return r;
    const QString file = sysClassTty + QLatin1Char('/') + ttyName + QStringLiteral("/device/latency_timer");
    const QByteArray path = QFile::encodeName(file);
    r.foundMs = ReadTimerMs(path);
    r.nowMs = r.foundMs;
    if (r.foundMs < 0)
        return r;  // not a USB adapter with a latency timer
    if (r.foundMs <= 1) {
        qCDebug(lcLine).noquote() << label +
                                         QStringLiteral(": USB adapter latency timer %1 ms").arg(r.foundMs);
        return r;
    }
    QString how;
    if (SetLowLatencyFlag(fd)) {
        r.nowMs = ReadTimerMs(path);
        how = QStringLiteral("by the driver's low-latency flag");
    }
    if (r.nowMs != 1 && WriteTimerMs(path, "1\n")) {
        r.nowMs = ReadTimerMs(path);
        how = QStringLiteral("by writing latency_timer");
    }
    if (r.nowMs == 1) {
        qCDebug(lcLine).noquote() << label +
                                         QStringLiteral(": USB adapter latency timer %1 ms, set to 1 ms (%2)")
                                             .arg(r.foundMs)
                                             .arg(how);
        return r;
    }
    qCDebug(lcLine).noquote()
        << label + QStringLiteral(
                       ": USB adapter latency timer %1 ms, cannot set it to 1 ms: each reply may wait up to "
                       "%1 ms more. To set it: echo 1 | sudo tee %2, or for good a udev rule such as "
                       "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                       "ATTR{latency_timer}=\"1\" in /etc/udev/rules.d/99-usb-serial-latency.rules")
                       .arg(r.nowMs)
                       .arg(file);
#else
    Q_UNUSED(label);
    Q_UNUSED(ttyName);
    Q_UNUSED(sysClassTty);
    Q_UNUSED(fd);
#endif
    return r;
}

const char* ComPortDevice(int port) {
    if (!ValidPort(port))
        return "";
    auto& slot = gDeviceNames[static_cast<std::size_t>(port)];
    const QByteArray dev = DeviceFor(port).toLocal8Bit();
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(dev.size()), slot.size() - 1);
    std::memcpy(slot.data(), dev.constData(), n);
    slot[n] = '\0';
    return slot.data();
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int /*outputQueueSize: QSerialPort's output buffer grows as needed*/) {
    if (!ValidPort(port))
        return OpenFailure(port, QString(), COM_ERR_INVALID_PORT, QStringLiteral("invalid port number"));
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (p.open)
        CloseCom(port);

    const QString device = deviceName && *deviceName ? QString::fromLocal8Bit(deviceName) : DeviceFor(port);
    if (device.isEmpty())
        return OpenFailure(port, device, COM_ERR_NO_PORT, QStringLiteral("no device for this port number"));
#ifndef Q_OS_WIN
    struct stat st {};
    const QByteArray path = QFile::encodeName(device);
    if (stat(path.constData(), &st) != 0)
        return OpenFailure(port, device, COM_ERR_NO_PORT, QStringLiteral("no such device"));
    if (!S_ISCHR(st.st_mode))
        return OpenFailure(port, device, COM_ERR_CANNOT_OPEN, QStringLiteral("not a character device"));
#endif

    QSerialPort* dev = DeviceObject(port);
    dev->setPortName(device);
    if (!dev->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError e = dev->error();
        const QString why = dev->errorString();
        dev->clearError();
        return OpenFailure(
            port, device, e == QSerialPort::DeviceNotFoundError ? COM_ERR_NO_PORT : COM_ERR_CANNOT_OPEN, why);
    }
#ifndef Q_OS_WIN
    if (!isatty(static_cast<int>(dev->handle()))) {
        dev->close();
        return OpenFailure(port, device, COM_ERR_CANNOT_OPEN, QStringLiteral("not a terminal"));
    }
#endif
#ifdef Q_OS_LINUX
    // One program per device. QSerialPort's lock file is named after the path
    // as given, and its exclusive mode does not bind root: a lock on the
    // device itself also refuses a second program (or a second copy) that
    // reaches it through another name, a link or /dev/serial/by-id.
    if (flock(static_cast<int>(dev->handle()), LOCK_EX | LOCK_NB) != 0) {
        dev->close();
        return OpenFailure(port, device, COM_ERR_CANNOT_OPEN, QStringLiteral("in use by another program"));
    }
#endif

    // Line settings. A pseudo-terminal rejects some of the ioctls involved;
    // such refusals do not make the port unusable and are ignored.
    dev->setBaudRate(static_cast<qint32>(baudRate));
    dev->setDataBits(dataBits >= 5 && dataBits <= 8 ? static_cast<QSerialPort::DataBits>(dataBits)
                                                    : QSerialPort::Data8);
    static constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                      QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                      QSerialPort::SpaceParity};
    dev->setParity(parity >= 0 && parity <= 4 ? kParity[parity] : QSerialPort::NoParity);
    dev->setStopBits(stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    dev->setFlowControl(QSerialPort::NoFlowControl);
    dev->setReadBufferSize(inputQueueSize > 0 ? inputQueueSize : 0);
    dev->clearError();

    p.open = true;
    p.dead = false;
    p.timeoutMs = kDefaultTimeoutMs;
    p.callback = nullptr;
    p.callbackData = nullptr;
    p.eventMask = 0;
    p.notifyCount = 0;
    p.checkPosted = false;
    ++p.generation;
    qCDebug(lcLine).noquote() << PortLabel(port) << "open" << device << baudRate << "baud";
#ifdef Q_OS_LINUX
    // By its real name: the port may be named through a link (/dev/serial/by-id/...).
    orv_rt::AdjustUsbLatency(PortLabel(port) + QLatin1Char(' ') + device,
                             QFileInfo(QFileInfo(device).canonicalFilePath()).fileName(),
                             QStringLiteral("/sys/class/tty"), static_cast<int>(dev->handle()));
#endif
    return 0;
}

int CloseCom(int port) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (p->dev->isOpen())
        p->dev->close();
    p->dev->clearError();
    p->open = false;
    p->dead = false;
    p->callback = nullptr;
    p->checkPosted = false;
    ++p->generation;
    qCDebug(lcLine).noquote() << PortLabel(port) << "closed";
    return 0;
}

int SetComTime(int port, double timeoutSeconds) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    // At most a day: keeps the millisecond count well inside an int.
    p->timeoutMs = static_cast<int>(std::clamp(timeoutSeconds, 0.0, 86400.0) * 1000.0 + 0.5);
    return 0;
}

int SetCTSMode(int port, int mode) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (!p->dead) {
        p->dev->setFlowControl(mode == 0 ? QSerialPort::NoFlowControl : QSerialPort::HardwareControl);
        p->dev->clearError();
    }
    return 0;
}

namespace {

// Discards what waits in one direction: Qt's buffer and the driver's queue.
int Flush(int port, QSerialPort::Direction direction) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (p->dev->isOpen()) {
        p->dev->clear(direction);
        if (!IsLost(p->dev->error()))
            p->dev->clearError();
    }
    return 0;
}

}  // namespace

int FlushInQ(int port) {
    return Flush(port, QSerialPort::Input);
}

int FlushOutQ(int port) {
    return Flush(port, QSerialPort::Output);
}

int InstallComCallback(int port, int eventMask, int notifyCount, int /*eventCharacter*/,
                       ComCallbackPtr callback, void* callbackData) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    const bool active = callback && (eventMask & COM_EVT_RXCOUNT) && notifyCount > 0;
    p->callback = active ? callback : nullptr;
    p->callbackData = callbackData;
    p->eventMask = eventMask;
    p->notifyCount = notifyCount;
    if (active && !p->dead && p->dev->isOpen() && p->dev->bytesAvailable() >= notifyCount)
        PostCheck(port);
    return 0;
}

int ComWrt(int port, const char* buffer, int count) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    if (p->dead || !p->dev->isOpen()) {
        qCDebug(lcLine).noquote() << PortLabel(port) << "tx failed: device lost";
        return COM_ERR_IO;
    }
    if (count == 0)
        return 0;
    const qint64 queued = p->dev->write(buffer, count);
    if (queued < 0) {
        qCDebug(lcLine).noquote() << PortLabel(port) << "tx failed:" << p->dev->errorString();
        return COM_ERR_IO;
    }
    QElapsedTimer t;
    t.start();
    while (!p->dead && p->dev->isOpen() && p->dev->bytesToWrite() > 0) {
        const qint64 left = p->timeoutMs - t.elapsed();
        if (left <= 0 || !p->dev->waitForBytesWritten(static_cast<int>(left))) {
            if (IsLost(p->dev->error()))
                MarkDead(port);
            break;
        }
    }
    const qint64 pending = p->dev->isOpen() ? p->dev->bytesToWrite() : queued;
    const int written = static_cast<int>(std::clamp<qint64>(queued - pending, 0, count));
    QString line = PortLabel(port) + QStringLiteral(" tx ") + Hex(buffer, written);
    if (written < count)
        line += QStringLiteral(" (%1 of %2 bytes)").arg(written).arg(count);
    qCDebug(lcLine).noquote() << line;
    if (written == 0 && p->dead)
        return COM_ERR_IO;
    return written;
}

int ComRd(int port, char* buffer, int count) {
    orv_rt::BeforeBlocking();  // the read blocks: show what changed first
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (count < 0 || (count > 0 && !buffer))
        return COM_ERR_GENERAL;
    if (count == 0)
        return 0;
    QElapsedTimer t;
    t.start();
    while (!p->dead && p->dev->isOpen() && p->dev->bytesAvailable() < count) {
        const qint64 left = p->timeoutMs - t.elapsed();
        if (left <= 0)
            break;
        // readyRead emitted in here only posts a check (see OnReadyRead).
        if (!p->dev->waitForReadyRead(static_cast<int>(left))) {
            if (IsLost(p->dev->error()))
                MarkDead(port);
            break;
        }
    }
    const qint64 got = p->dev->isOpen() ? p->dev->read(buffer, count) : 0;
    QString line =
        PortLabel(port) + QStringLiteral(" rx ") + (got > 0 ? Hex(buffer, got) : QStringLiteral("nothing"));
    if (got < count)
        line +=
            p->dead
                ? QStringLiteral(" (%1 of %2 bytes, device lost)").arg(std::max<qint64>(got, 0)).arg(count)
                : QStringLiteral(" (%1 of %2 bytes by the time-out)")
                      .arg(std::max<qint64>(got, 0))
                      .arg(count);
    qCDebug(lcLine).noquote() << line;
    if (got <= 0)
        return p->dead ? COM_ERR_IO : 0;
    return static_cast<int>(got);
}

int GetInQLen(int port) {
    ComPort* p = OpenPort(port);
    if (!p)
        return FailCode(port);
    if (!p->dev->isOpen())
        return 0;
    qint64 n = p->dev->bytesAvailable();
#ifndef Q_OS_WIN
    // Bytes the driver holds that QSerialPort has not fetched yet.
    int pendingInDriver = 0;
    if (!p->dead && ioctl(static_cast<int>(p->dev->handle()), FIONREAD, &pendingInDriver) == 0 &&
        pendingInDriver > 0)
        n += pendingInDriver;
#endif
    return static_cast<int>(std::min<qint64>(n, 0x7FFFFFFF));
}
