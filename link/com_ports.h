#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace rqv5 {

// A serial device as the COM menu offers it.
struct ComPort {
    QString device;      // "/dev/ttyUSB0"
    QString description; // "FT232R USB UART", or what the system knows of it
};

// The serial ports of this machine in COM order (see orderComPorts).
QList<ComPort> systemSerialPorts();

// COM order: USB and ACM adapters first, then the built-in ports, each group in
// natural order of the device names (ttyUSB2 before ttyUSB10), whatever the locale.
QList<ComPort> orderComPorts(QList<ComPort> ports);

// The device behind COM<number>: the environment variable RQV5_COM<number> wins
// (RQV5_COM1=/dev/pts/4), otherwise the number-th system serial port. Nothing
// when there is neither.
std::optional<ComPort> resolveComPort(int number);
// The same, against a port list already read with systemSerialPorts().
std::optional<ComPort> resolveComPort(int number, const QList<ComPort>& systemPorts);

} // namespace rqv5
