// Serial port services on QSerialPort.
//
// Port numbers: on Windows port n is "COMn". Elsewhere port n is the device
// named by the environment variable ORVANSCOPE_COM<n> when it is set (read at
// every open and refresh, so a simulated sensor on a pseudo-terminal can be
// plugged in at run time; connected = its path exists), otherwise the device
// that the port table gives the number. The table is filled from the system's
// serial port list the first time it is needed, USB (ttyUSB*) adapters first,
// then ACM (ttyACM*) adapters, then everything else (built-in ttyS* UARTs),
// each group in natural name order, and brought up to date by every refresh
// (RefreshComPorts; on Linux also when /dev changes, and every 500 ms while an
// open port's device is missing). A device keeps its number for the run, also
// while it is unplugged, found again by its identity (see port_table.h).
//
// Opening a port that is already open closes it first and opens it afresh
// (the notification must be installed again).
//
// The receive notification is delivered from the event loop only: readyRead
// (which QSerialPort also emits inside waitForReadyRead, i.e. inside ComRd)
// merely posts one queued check; the check runs when events are processed,
// looks at the input queue again and calls the callback when the notify count
// is reached, then posts again while enough bytes remain.
//
// On Linux a USB adapter with a latency timer above 1 ms is set to low latency
// at every open (see usb_latency.h); the line log says what was found and done.
//
// A device that vanishes (USB adapter pulled, simulator closed the line) is
// marked dead on its first read error: the port is closed underneath at the
// next event processing so it stops waking the event loop, reads and writes
// fail at once with COM_ERR_IO, and CloseCom followed by a new open work as
// usual. While the program keeps such a port open, the runtime looks for its
// device (the same identity, or the same path for a device named by path) and
// opens the port again when it is back, with the settings and notification it
// had; the callback then gets COM_EVT_REOPENED from the event loop.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMetaObject>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

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
#include "runtime/core/port_table.h"
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

    // How the port was opened, to open it again the same way when its device
    // comes back after it vanished.
    QString device;          // the path opened
    QString identity;        // the port table's identity; empty: the device was named by path
    bool mayReturn = false;  // the device can come back (see CanReturn)
    long baudRate = 0;
    int parity = 0;
    int dataBits = 8;
    int stopBits = 1;
    int inputQueueSize = 0;
    bool handshake = false;
    bool reopenFailLogged = false;  // one line in the log per absence, not one per attempt
};

// Whether the receive notification is installed.
bool RxActive(const ComPort& p) {
    return p.callback && (p.eventMask & COM_EVT_RXCOUNT) && p.notifyCount > 0;
}

std::array<ComPort, MAX_COM_PORTS + 1> gPorts;
std::array<std::array<char, MAX_PATHNAME_LEN>, MAX_COM_PORTS + 1> gDeviceNames{};
void (*gPortListHook)() = nullptr;

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

// The system's serial devices in the order of the first fill.
std::vector<orv_rt::SeenDevice> SystemDevices() {
    std::vector<std::pair<PortKey, orv_rt::SeenDevice>> list;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString path = info.systemLocation();
        // A USB adapter is known by its serial number wherever it shows up;
        // without one, only its path tells it apart.
        QString identity = path;
        if (info.hasVendorIdentifier() && info.hasProductIdentifier() && !info.serialNumber().isEmpty())
            identity = QStringLiteral("usb:%1:%2:%3")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.serialNumber());
        list.push_back({KeyOf(path), {path.toStdString(), identity.toStdString()}});
    }
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        const PortKey &ka = a.first, &kb = b.first;
        if (ka.group != kb.group)
            return ka.group < kb.group;
        if (ka.stem != kb.stem)
            return ka.stem < kb.stem;
        if (ka.number != kb.number)
            return ka.number < kb.number;
        return ka.name < kb.name;
    });
    std::vector<orv_rt::SeenDevice> out;
    for (auto& entry : list)
        out.push_back(std::move(entry.second));
    return out;
}

bool PathExists(const QString& path) {
    struct stat st {};
    return !path.isEmpty() && stat(QFile::encodeName(path).constData(), &st) == 0;
}
#endif

// The port table and what each number showed at the last refresh.
struct PortTable {
    bool filled = false;
    unsigned long refreshes = 0;
    std::vector<orv_rt::PortSlot> numbers = std::vector<orv_rt::PortSlot>(MAX_COM_PORTS);
    std::array<std::pair<QString, bool>, MAX_COM_PORTS + 1> shown{};
};
PortTable gTable;

QString EnvDevice(int port) {
    const QByteArray env = qgetenv(QStringLiteral("ORVANSCOPE_COM%1").arg(port).toLatin1().constData());
    return QString::fromLocal8Bit(env);
}

const orv_rt::PortSlot& Slot(int port) {
    return gTable.numbers[static_cast<std::size_t>(port - 1)];
}

void EnsureTable();

QString DeviceFor(int port) {
    if (!ValidPort(port))
        return {};
#ifdef Q_OS_WIN
    return PortLabel(port);
#else
    EnsureTable();  // also starts watching for devices
    const QString env = EnvDevice(port);
    if (!env.isEmpty())
        return env;
    return QString::fromStdString(Slot(port).path);
#endif
}

bool PresentFor(int port) {
    if (!ValidPort(port))
        return false;
#ifdef Q_OS_WIN
    return true;
#else
    EnsureTable();  // also starts watching for devices
    const QString env = EnvDevice(port);
    if (!env.isEmpty())
        return PathExists(env);
    return Slot(port).present;
#endif
}

// Re-reads the system's list into the table; true when what a number shows changed.
bool RefreshTable() {
#ifndef Q_OS_WIN
    orv_rt::AssignPorts(gTable.numbers, SystemDevices(), ++gTable.refreshes);
#endif
    bool changed = false;
    for (int port = 1; port <= MAX_COM_PORTS; ++port) {
        std::pair<QString, bool> now{DeviceFor(port), PresentFor(port)};
        auto& was = gTable.shown[static_cast<std::size_t>(port)];
        if (now != was) {
            changed = true;
            was = std::move(now);
        }
    }
    return changed;
}

void EnsureTable() {
    if (gTable.filled)
        return;
    gTable.filled = true;
    RefreshTable();
#ifdef Q_OS_LINUX
    // Devices come and go in /dev. udev settles a new node's permissions a
    // little after it appears: refresh once things have been quiet for 0.5 s.
    if (QCoreApplication::instance()) {
        auto* settle = new QTimer;  // lives as long as the process
        settle->setSingleShot(true);
        settle->setInterval(500);
        QObject::connect(settle, &QTimer::timeout, settle, [] { RefreshComPorts(); });
        auto* watcher = new QFileSystemWatcher(QStringList{QStringLiteral("/dev")});
        QObject::connect(watcher, &QFileSystemWatcher::directoryChanged, settle,
                         [settle](const QString&) { settle->start(); });
    }
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
    if (!p.open || p.dead || !RxActive(p) || p.inCallback || !p.dev->isOpen())
        return;
    if (p.dev->bytesAvailable() < p.notifyCount)
        return;
    p.inCallback = true;
    p.callback(port, COM_EVT_RXCOUNT, p.callbackData);
    p.inCallback = false;
    // The callback may have closed or reopened the port; the generation tells.
    if (generation == p.generation && p.open && !p.dead && RxActive(p) && p.dev->isOpen() &&
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
    if (!p.open || p.dead || !RxActive(p) || p.inCallback)
        return;
    if (p.dev->bytesAvailable() >= p.notifyCount)
        PostCheck(port);
}

// An open port whose device vanished and may come back.
bool AnyAwaited() {
    return std::any_of(gPorts.begin(), gPorts.end(),
                       [](const ComPort& p) { return p.open && p.dead && p.mayReturn; });
}

void ReopenReturned();

// While a port's device is missing, looks for it twice a second (the list
// may not change in /dev when the device is named through a link elsewhere).
void WatchForReturn() {
    static QTimer* poll = nullptr;
    if (!poll) {
        if (!QCoreApplication::instance())
            return;
        poll = new QTimer;  // lives as long as the process
        poll->setInterval(500);
        QObject::connect(poll, &QTimer::timeout, poll, [] {
            // The system's list is read only for a device that the table
            // knows by identity; a device named by path needs just its path.
            if (std::any_of(gPorts.begin(), gPorts.end(), [](const ComPort& p) {
                    return p.open && p.dead && p.mayReturn && !p.identity.isEmpty();
                }))
                RefreshComPorts();
            else
                ReopenReturned();
            if (!AnyAwaited())
                poll->stop();
        });
    }
    if (!poll->isActive())
        poll->start();
}

void MarkDead(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (p.dead || !p.open)
        return;
    p.dead = true;
    p.reopenFailLogged = false;
    qCDebug(lcLine).noquote() << PortLabel(port) << "device lost:" << p.dev->errorString();
    if (p.mayReturn)
        WatchForReturn();
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

// Why the last open of each port failed ("" after a good open).
constexpr int kReasonLen = 96;
std::array<std::array<char, kReasonLen>, MAX_COM_PORTS + 1> gOpenFailures{};

int OpenFailure(int port, const QString& device, int code, const QString& why) {
    qCDebug(lcLine).noquote() << PortLabel(port) << "open" << device << "failed:" << why;
    if (ValidPort(port))
        qstrncpy(gOpenFailures[static_cast<std::size_t>(port)].data(), why.toLocal8Bit().constData(),
                 kReasonLen);
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

namespace {

// Opens `device` for `port` with the line settings kept in `p` and applies
// them. `quiet`: a failure is not written to the line log.
int OpenDevice(int port, const QString& device, const ComPort& p, bool quiet) {
    auto fail = [&](int code, const QString& why) {
        return quiet ? code : OpenFailure(port, device, code, why);
    };
#ifndef Q_OS_WIN
    struct stat st {};
    const QByteArray path = QFile::encodeName(device);
    if (stat(path.constData(), &st) != 0)
        return fail(COM_ERR_NO_PORT, QStringLiteral("no such device"));
    if (!S_ISCHR(st.st_mode))
        return fail(COM_ERR_CANNOT_OPEN, QStringLiteral("not a character device"));
#endif

    QSerialPort* dev = DeviceObject(port);
    dev->setPortName(device);
    if (!dev->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError e = dev->error();
        const QString why = dev->errorString();
        dev->clearError();
        return fail(e == QSerialPort::DeviceNotFoundError ? COM_ERR_NO_PORT : COM_ERR_CANNOT_OPEN, why);
    }
#ifndef Q_OS_WIN
    if (!isatty(static_cast<int>(dev->handle()))) {
        dev->close();
        return fail(COM_ERR_CANNOT_OPEN, QStringLiteral("not a terminal"));
    }
#endif
#ifdef Q_OS_LINUX
    // One program per device. QSerialPort's lock file is named after the path
    // as given, and its exclusive mode does not bind root: a lock on the
    // device itself also refuses a second program (or a second copy) that
    // reaches it through another name, a link or /dev/serial/by-id.
    if (flock(static_cast<int>(dev->handle()), LOCK_EX | LOCK_NB) != 0) {
        dev->close();
        return fail(COM_ERR_CANNOT_OPEN, QStringLiteral("in use by another program"));
    }
#endif

    // Line settings. A pseudo-terminal rejects some of the ioctls involved;
    // such refusals do not make the port unusable and are ignored.
    dev->setBaudRate(static_cast<qint32>(p.baudRate));
    dev->setDataBits(p.dataBits >= 5 && p.dataBits <= 8 ? static_cast<QSerialPort::DataBits>(p.dataBits)
                                                        : QSerialPort::Data8);
    static constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                      QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                      QSerialPort::SpaceParity};
    dev->setParity(p.parity >= 0 && p.parity <= 4 ? kParity[p.parity] : QSerialPort::NoParity);
    dev->setStopBits(p.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    dev->setFlowControl(p.handshake ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    dev->setReadBufferSize(p.inputQueueSize > 0 ? p.inputQueueSize : 0);
    dev->clearError();
    return 0;
}

// Sets a USB adapter just opened to low latency (after the open's log line).
void LowerLatency(int port, const QString& device) {
#ifdef Q_OS_LINUX
    // By its real name: the port may be named through a link (/dev/serial/by-id/...).
    orv_rt::AdjustUsbLatency(PortLabel(port) + QLatin1Char(' ') + device,
                             QFileInfo(QFileInfo(device).canonicalFilePath()).fileName(),
                             QStringLiteral("/sys/class/tty"),
                             static_cast<int>(DeviceObject(port)->handle()));
#else
    Q_UNUSED(port);
    Q_UNUSED(device);
#endif
}

// Tells the program that the port is open again, from the event loop.
void DeliverReopened(int port, unsigned generation) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (generation != p.generation || !p.open || p.dead)
        return;
    if (p.inCallback) {
        // Never nested inside the port's own callback: try once it has returned.
        QTimer::singleShot(50, p.dev, [port, generation] { DeliverReopened(port, generation); });
        return;
    }
    if (p.callback && (p.eventMask & COM_EVT_REOPENED)) {
        p.inCallback = true;
        p.callback(port, COM_EVT_REOPENED, p.callbackData);
        p.inCallback = false;
    }
    if (generation == p.generation && p.open && !p.dead && RxActive(p) && p.dev->isOpen() &&
        p.dev->bytesAvailable() >= p.notifyCount)
        PostCheck(port);
}

// Whether a device opened by path can come back there. A pseudo-terminal
// named by its own path cannot: once closed it is gone, and its number goes
// to the next terminal opened by anyone. A link to one (a simulator's fixed
// path) can be made again.
bool CanReturn(const QString& device) {
#ifdef Q_OS_LINUX
    struct stat st {};
    if (lstat(QFile::encodeName(device).constData(), &st) == 0 && !S_ISLNK(st.st_mode) &&
        QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/")))
        return false;
#else
    Q_UNUSED(device);
#endif
    return true;
}

// Opens a port whose device vanished once the same device is back.
void TryReopen(int port) {
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (!p.open || !p.dead || !p.mayReturn || p.inCallback)
        return;
    QString device = p.device;
#ifndef Q_OS_WIN
    if (!p.identity.isEmpty()) {
        // The number stays with its device: back when its slot is present again.
        const orv_rt::PortSlot& slot = Slot(port);
        if (QString::fromStdString(slot.identity) != p.identity || !slot.present)
            return;
        device = QString::fromStdString(slot.path);
    } else if (!PathExists(device)) {
        return;
    }
#endif
    // What is left of the lost opening goes first (its close may still wait
    // in the event queue; the new generation makes it a no-op).
    if (p.dev->isOpen())
        p.dev->close();
    p.dev->clearError();
    if (OpenDevice(port, device, p, p.reopenFailLogged) < 0) {
        p.reopenFailLogged = true;  // e.g. udev has not given access yet: tried again later
        return;
    }
    p.dead = false;
    p.device = device;
    p.checkPosted = false;
    ++p.generation;
    qCDebug(lcLine).noquote() << PortLabel(port) << "reopened" << device;
    LowerLatency(port, device);
    const unsigned generation = p.generation;
    QMetaObject::invokeMethod(
        p.dev, [port, generation] { DeliverReopened(port, generation); }, Qt::QueuedConnection);
}

// Opens every lost port whose device is back.
void ReopenReturned() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        TryReopen(port);
}

}  // namespace

void orv_rt::SetPortListHook(void (*hook)()) {
    gPortListHook = hook;
}

int RefreshComPorts() {
    EnsureTable();
    const bool changed = RefreshTable();
    ReopenReturned();
    if (changed && gPortListHook)
        gPortListHook();
    return changed ? 1 : 0;
}

int ComPortPresent(int port) {
    return PresentFor(port) ? 1 : 0;
}

const char* ComOpenFailureReason(int port) {
    return ValidPort(port) ? gOpenFailures[static_cast<std::size_t>(port)].data() : "";
}

int OpenComConfig(int port, const char* deviceName, long baudRate, int parity, int dataBits, int stopBits,
                  int inputQueueSize, int /*outputQueueSize: QSerialPort's output buffer grows as needed*/) {
    if (!ValidPort(port))
        return OpenFailure(port, QString(), COM_ERR_INVALID_PORT, QStringLiteral("invalid port number"));
    ComPort& p = gPorts[static_cast<std::size_t>(port)];
    if (p.open)
        CloseCom(port);

    QString device, identity;
    if (deviceName && *deviceName) {
        device = QString::fromLocal8Bit(deviceName);
    } else {
        device = DeviceFor(port);
#ifndef Q_OS_WIN
        if (EnvDevice(port).isEmpty() && !device.isEmpty()) {
            // The number's device is not connected: its old path may lead to
            // another device by now.
            if (!Slot(port).present)
                return OpenFailure(port, device, COM_ERR_NO_PORT, QStringLiteral("device not connected"));
            identity = QString::fromStdString(Slot(port).identity);
        }
#endif
    }
    if (device.isEmpty())
        return OpenFailure(port, device, COM_ERR_NO_PORT, QStringLiteral("no device for this port number"));

    p.baudRate = baudRate;
    p.parity = parity;
    p.dataBits = dataBits;
    p.stopBits = stopBits;
    p.inputQueueSize = inputQueueSize;
    p.handshake = false;
    const int opened = OpenDevice(port, device, p, false);
    if (opened < 0)
        return opened;

    gOpenFailures[static_cast<std::size_t>(port)][0] = '\0';
    p.open = true;
    p.dead = false;
    p.device = device;
    p.identity = identity;
    p.mayReturn = !identity.isEmpty() || CanReturn(device);
    p.reopenFailLogged = false;
    p.timeoutMs = kDefaultTimeoutMs;
    p.callback = nullptr;
    p.callbackData = nullptr;
    p.eventMask = 0;
    p.notifyCount = 0;
    p.checkPosted = false;
    ++p.generation;
    qCDebug(lcLine).noquote() << PortLabel(port) << "open" << device << baudRate << "baud";
    LowerLatency(port, device);
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
    p->handshake = mode != 0;
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
    const bool wanted = callback && (eventMask & (COM_EVT_RXCOUNT | COM_EVT_REOPENED));
    p->callback = wanted ? callback : nullptr;
    p->callbackData = callbackData;
    p->eventMask = eventMask;
    p->notifyCount = notifyCount;
    if (RxActive(*p) && !p->dead && p->dev->isOpen() && p->dev->bytesAvailable() >= notifyCount)
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
