// Open and line settings of the real serial port, and what its errors mean.
//
// A device opens when it is what the system takes for a serial device that
// no other program holds (platform.h: on POSIX a character device and a
// terminal, locked by this program whatever name it was reached by). A
// pseudo-terminal rejects some of the line-control ioctls; such refusals
// leave the port usable and are ignored.
//
// A USB adapter with a latency timer above 1 ms (Linux) is set to low latency
// at every open (see usb_latency.h); the line log says what was found and done.
//
// A device that vanishes (USB adapter pulled, simulator closed the line) is
// lost on its first read error (orv_line::Lost).
#include <QFile>
#include <QFileInfo>
#include <QObject>

#include <array>

#include "runtime/core/serial_face.h"
#include "runtime/core/usb_latency.h"
#include "runtime/line/line.h"
#include "runtime/platform/platform.h"

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
                                            const QString& sysClassTty, std::intptr_t handle) {
    UsbLatency r;
    if (ttyName.isEmpty())
        return r;
    const QString file = sysClassTty + QLatin1Char('/') + ttyName + QStringLiteral("/device/latency_timer");
    const std::string path = orv_serial::Path(file);
    r.foundMs = orv_platform::ReadSettingFile(path);
    r.nowMs = r.foundMs;
    if (r.foundMs < 0)
        return r;  // not a USB adapter with a latency timer
    if (r.foundMs <= 1) {
        Note(label + QStringLiteral(": USB adapter latency timer %1 ms").arg(r.foundMs));
        return r;
    }
    QString how;
    if (handle >= 0 && orv_platform::SetLowLatency(handle)) {
        r.nowMs = orv_platform::ReadSettingFile(path);
        how = QStringLiteral("by the driver's low-latency flag");
    }
    if (r.nowMs != 1 && orv_platform::WriteSettingFile(path, "1\n")) {
        r.nowMs = orv_platform::ReadSettingFile(path);
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
    return r;
}

namespace orv_line::face {

int Open(int port, const std::string& device, const Settings& s, std::string* why) {
    auto fail = [&](int code, const QString& reason) {
        *why = reason.toStdString();
        return code;
    };
    bool missing = false;
    if (const std::string bad = orv_platform::NotASerialDevice(device, &missing); !bad.empty())
        return fail(missing ? COM_ERR_NO_PORT : COM_ERR_CANNOT_OPEN, QString::fromStdString(bad));

    QSerialPort* dev = orv_serial::Dev(port);
    dev->setPortName(orv_serial::Path(device));
    if (!dev->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError e = dev->error();
        const QString reason = dev->errorString();
        dev->clearError();
        return fail(e == QSerialPort::DeviceNotFoundError ? COM_ERR_NO_PORT : COM_ERR_CANNOT_OPEN, reason);
    }
    // One program per device, whatever name reached it (see platform.h).
    if (const std::string refused = orv_platform::TakeSerialDevice(orv_serial::Handle(dev));
        !refused.empty()) {
        dev->close();
        return fail(COM_ERR_CANNOT_OPEN, QString::fromStdString(refused));
    }

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
    // By its real name: the port may be named through a link (/dev/serial/by-id/...).
    orv_rt::AdjustUsbLatency(QStringLiteral("COM%1 ").arg(port) + path,
                             QFileInfo(QFileInfo(path).canonicalFilePath()).fileName(),
                             QStringLiteral("/sys/class/tty"), orv_serial::Handle(orv_serial::Dev(port)));
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
