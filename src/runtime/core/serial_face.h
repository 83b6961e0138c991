// The real serial port: the face of the line model (runtime/line/line.h) on
// QSerialPort, in three files:
//   serial_ports.cpp  port numbers (the port table, kept up to date) and a
//                     lost port opened again when its device is back
//   serial_open.cpp   open and line settings, errors, USB adapter latency
//   serial_io.cpp     bytes in and out, flush, the wake-up of the event loop,
//                     the line log's sink
// What they share is declared here.
#pragma once

#include <QSerialPort>
#include <QString>

#include <string>

namespace orv_serial {

// The port's device object: made at the first use, kept for the whole run
// (serial_open.cpp).
QSerialPort* Dev(int port);
// Whether an error means that the device has gone.
bool IsLost(QSerialPort::SerialPortError e);
// Remembers, at every open, whether the port's device can come back after it
// was lost (serial_ports.cpp).
void NoteOpened(int port, const QString& device);
// The path as the system takes it, and back.
std::string Path(const QString& path);
QString Path(const std::string& path);

}  // namespace orv_serial
