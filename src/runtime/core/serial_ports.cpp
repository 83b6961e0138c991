// Port numbers of the real serial port, and lost ports opened again.
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
// While the program keeps a port open whose device vanished, the runtime
// looks for its device (the same identity, or the same path for a device
// named by path) and opens the port again when it is back, with the settings
// and notification it had (orv_line::Reopen).
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSerialPortInfo>
#include <QStringList>
#include <QTimer>

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "runtime/core/port_table.h"
#include "runtime/core/serial_face.h"
#include "runtime/line/line.h"
#include "runtime/platform/platform.h"

namespace {

using orv_line::State;

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
        std::string identity = orv_serial::Path(path);
        if (info.hasVendorIdentifier() && info.hasProductIdentifier() && !info.serialNumber().isEmpty())
            identity = QStringLiteral("usb:%1:%2:%3")
                           .arg(info.vendorIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.productIdentifier(), 4, 16, QLatin1Char('0'))
                           .arg(info.serialNumber())
                           .toStdString();
        list.push_back({KeyOf(path), {orv_serial::Path(path), identity}});
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

using orv_platform::PathExists;
#endif

// The port table.
struct PortTable {
    bool filled = false;
    unsigned long refreshes = 0;
    std::vector<orv_rt::PortSlot> numbers = std::vector<orv_rt::PortSlot>(MAX_COM_PORTS);
};
PortTable gTable;

// Per port: whether its device can come back after it was lost, and whether
// a failed attempt to open it again is in the line log already (one line per
// absence, not one per attempt).
std::array<bool, MAX_COM_PORTS + 1> gMayReturn{};
std::array<bool, MAX_COM_PORTS + 1> gReopenFailLogged{};

const orv_rt::PortSlot& Slot(int port) {
    return gTable.numbers[static_cast<std::size_t>(port - 1)];
}

void EnsureTable() {
    if (gTable.filled)
        return;
    gTable.filled = true;
#ifndef Q_OS_WIN
    orv_rt::AssignPorts(gTable.numbers, SystemDevices(), ++gTable.refreshes);
#endif
    orv_line::NoteShown();
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

// An open port whose device vanished and may come back; `byIdentity`: only
// one that the table knows by identity.
bool Awaited(int port, bool byIdentity) {
    const orv_line::Port& p = State(port);
    return p.open && p.dead && gMayReturn[static_cast<std::size_t>(port)] &&
           (!byIdentity || !p.identity.empty());
}

bool AnyAwaited(bool byIdentity) {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        if (Awaited(port, byIdentity))
            return true;
    return false;
}

// Opens a port whose device vanished once the same device is back.
void TryReopen(int port) {
    const orv_line::Port& p = State(port);
    if (!Awaited(port, false) || p.inCallback)
        return;
    std::string device = p.device;
#ifndef Q_OS_WIN
    if (!p.identity.empty()) {
        // The number stays with its device: back when its slot is present again.
        const orv_rt::PortSlot& slot = Slot(port);
        if (slot.identity != p.identity || !slot.present)
            return;
        device = slot.path;
    } else if (!PathExists(device)) {
        return;
    }
#endif
    bool& logged = gReopenFailLogged[static_cast<std::size_t>(port)];
    if (!orv_line::Reopen(port, device, logged))
        logged = true;  // e.g. udev has not given access yet: tried again later
}

void ReopenReturned() {
    for (int port = 1; port <= MAX_COM_PORTS; ++port)
        TryReopen(port);
}

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
            if (AnyAwaited(true))
                RefreshComPorts();
            else
                ReopenReturned();
            if (!AnyAwaited(false))
                poll->stop();
        });
    }
    if (!poll->isActive())
        poll->start();
}

}  // namespace

std::string orv_serial::Path(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString orv_serial::Path(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

void orv_serial::NoteOpened(int port, const QString& device) {
    const auto i = static_cast<std::size_t>(port);
    // A pseudo-terminal named by its own path cannot come back; a link to one
    // (a simulator's fixed path) can be made again.
    gMayReturn[i] = !State(port).identity.empty() || orv_platform::DeviceCanReturn(orv_serial::Path(device));
    gReopenFailLogged[i] = false;
}

namespace orv_line::face {

std::string Device(int port) {
#ifdef Q_OS_WIN
    return "COM" + std::to_string(port);
#else
    EnsureTable();  // also starts watching for devices
    const std::string env = EnvDevice(port);
    return env.empty() ? Slot(port).path : env;
#endif
}

bool Present(int port) {
#ifdef Q_OS_WIN
    Q_UNUSED(port);
    return true;
#else
    EnsureTable();  // also starts watching for devices
    const std::string env = EnvDevice(port);
    return env.empty() ? Slot(port).present : PathExists(env);
#endif
}

void Rescan() {
    EnsureTable();
#ifndef Q_OS_WIN
    orv_rt::AssignPorts(gTable.numbers, SystemDevices(), ++gTable.refreshes);
#endif
    ReopenReturned();
}

int Find(int port, std::string* device, std::string* identity, std::string* why) {
    *device = Device(port);
#ifndef Q_OS_WIN
    if (EnvDevice(port).empty() && !device->empty()) {
        // The number's device is not connected: its old path may lead to
        // another device by now.
        if (!Slot(port).present) {
            *why = "device not connected";
            return COM_ERR_NO_PORT;
        }
        *identity = Slot(port).identity;
    }
#else
    Q_UNUSED(identity);
    Q_UNUSED(why);
#endif
    return 0;
}

void Lost(int port) {
    gReopenFailLogged[static_cast<std::size_t>(port)] = false;
    if (gMayReturn[static_cast<std::size_t>(port)])
        WatchForReturn();
}

}  // namespace orv_line::face
