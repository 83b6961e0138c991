// The real serial port, the line model's face on QSerialPort: what its three
// files share (serial_ports.cpp: port numbers and hot-plug; serial_open.cpp:
// open, settings, errors; serial_io.cpp: bytes in and out).
#pragma once

#include <QSerialPort>
#include <QString>

#include <cstdint>
#include <string>
#include <type_traits>

namespace orv_serial {

// The port's device object: made at the first use, kept for the whole run
// (serial_open.cpp).
QSerialPort* Dev(int port);
// Whether an error means that the device has gone.
bool IsLost(QSerialPort::SerialPortError e);
// Remembers, at every open, whether the port's device can come back after it
// was lost (serial_ports.cpp).
void NoteOpened(int port, const QString& device);
// The device's handle as the platform face takes it (a file descriptor, or a
// Windows handle).
template <typename H>
std::intptr_t HandleValue(H h) {
    if constexpr (std::is_pointer_v<H>)
        return reinterpret_cast<std::intptr_t>(h);
    else
        return static_cast<std::intptr_t>(h);
}
inline std::intptr_t Handle(QSerialPort* dev) {
    return HandleValue(dev->handle());
}
// The path as the system takes it, and back.
std::string Path(const QString& path);
QString Path(const std::string& path);

}  // namespace orv_serial
