// Open and line settings of the real serial port, and what its errors mean.
//
// A device opens when it is a character device and a terminal that no other
// program holds (on Linux a lock on the device itself, whatever name it was
// reached by). A pseudo-terminal rejects some of the line-control ioctls;
// such refusals leave the port usable and are ignored.
//
// On Linux a USB adapter with a latency timer above 1 ms is set to low latency
// at every open (see usb_latency.h); the line log says what was found and done.
//
// A device that vanishes (USB adapter pulled, simulator closed the line) is
// lost on its first read error (orv_line::Lost).
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QObject>

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

#include "runtime/core/serial_face.h"
#include "runtime/core/usb_latency.h"
#include "runtime/line/line.h"

namespace {

std::array<QSerialPort*, MAX_COM_PORTS + 1> gDevices{};

void OnError(int port, QSerialPort::SerialPortError error) {
    const std::string why = orv_serial::Dev(port)->errorString().toStdString();
    switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
            return;
        case QSerialPort::UnsupportedOperationError:
            // Pseudo-terminals refuse some line-control ioctls; harmless.
            orv_line::Note(port, "ignored: " + why);
            return;
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
            orv_line::Lost(port, why);
            return;
        default:
            orv_line::Note(port, "error: " + why);
            return;
    }
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

void Note(const QString& line) {
    orv_line::Note(line.toStdString());
}

}  // namespace

QSerialPort* orv_serial::Dev(int port) {
    QSerialPort*& dev = gDevices[static_cast<std::size_t>(port)];
    if (!dev) {
        dev = new QSerialPort;  // lives as long as the process
        QObject::connect(dev, &QSerialPort::readyRead, dev, [port] { orv_line::Arrived(port); });
        QObject::connect(dev, &QSerialPort::errorOccurred, dev,
                         [port](QSerialPort::SerialPortError e) { OnError(port, e); });
    }
    return dev;
}

bool orv_serial::IsLost(QSerialPort::SerialPortError e) {
    return e == QSerialPort::ResourceError || e == QSerialPort::ReadError;
}

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
        Note(label + QStringLiteral(": USB adapter latency timer %1 ms").arg(r.foundMs));
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
        Note(label +
             QStringLiteral(": USB adapter latency timer %1 ms, set to 1 ms (%2)").arg(r.foundMs).arg(how));
        return r;
    }
    Note(label +
         QStringLiteral(": USB adapter latency timer %1 ms, cannot set it to 1 ms: each reply may wait up to "
                        "%1 ms more. To set it: echo 1 | sudo tee %2, or for good a udev rule such as "
                        "ACTION==\"add\", SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                        "ATTR{latency_timer}=\"1\" in /etc/udev/rules.d/99-usb-serial-latency.rules")
             .arg(r.nowMs)
             .arg(file));
#else
    Q_UNUSED(label);
    Q_UNUSED(ttyName);
    Q_UNUSED(sysClassTty);
    Q_UNUSED(fd);
#endif
    return r;
}

namespace orv_line::face {

int Open(int port, const std::string& device, const Settings& s, std::string* why) {
    auto fail = [&](int code, const QString& reason) {
        *why = reason.toStdString();
        return code;
    };
#ifndef Q_OS_WIN
    struct stat st {};
    if (stat(device.c_str(), &st) != 0)
        return fail(COM_ERR_NO_PORT, QStringLiteral("no such device"));
    if (!S_ISCHR(st.st_mode))
        return fail(COM_ERR_CANNOT_OPEN, QStringLiteral("not a character device"));
#endif

    QSerialPort* dev = orv_serial::Dev(port);
    dev->setPortName(orv_serial::Path(device));
    if (!dev->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError e = dev->error();
        const QString reason = dev->errorString();
        dev->clearError();
        return fail(e == QSerialPort::DeviceNotFoundError ? COM_ERR_NO_PORT : COM_ERR_CANNOT_OPEN, reason);
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

    dev->setBaudRate(static_cast<qint32>(s.baudRate));
    dev->setDataBits(s.dataBits >= 5 && s.dataBits <= 8 ? static_cast<QSerialPort::DataBits>(s.dataBits)
                                                        : QSerialPort::Data8);
    static constexpr QSerialPort::Parity kParity[] = {QSerialPort::NoParity, QSerialPort::OddParity,
                                                      QSerialPort::EvenParity, QSerialPort::MarkParity,
                                                      QSerialPort::SpaceParity};
    dev->setParity(s.parity >= 0 && s.parity <= 4 ? kParity[s.parity] : QSerialPort::NoParity);
    dev->setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    dev->setFlowControl(s.handshake ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    dev->setReadBufferSize(s.inputQueueSize > 0 ? s.inputQueueSize : 0);
    dev->clearError();
    return 0;
}

void Opened(int port, const std::string& device) {
    const QString path = orv_serial::Path(device);
    orv_serial::NoteOpened(port, path);
#ifdef Q_OS_LINUX
    // By its real name: the port may be named through a link (/dev/serial/by-id/...).
    orv_rt::AdjustUsbLatency(
        QStringLiteral("COM%1 ").arg(port) + path, QFileInfo(QFileInfo(path).canonicalFilePath()).fileName(),
        QStringLiteral("/sys/class/tty"), static_cast<int>(orv_serial::Dev(port)->handle()));
#endif
}

void Close(int port) {
    QSerialPort* dev = orv_serial::Dev(port);
    if (dev->isOpen())
        dev->close();
    dev->clearError();
}

void SetHandshake(int port, bool on) {
    QSerialPort* dev = orv_serial::Dev(port);
    dev->setFlowControl(on ? QSerialPort::HardwareControl : QSerialPort::NoFlowControl);
    dev->clearError();
}

}  // namespace orv_line::face
