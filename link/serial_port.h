#pragma once

#include "image/errors.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <string_view>

namespace rqv5 {

// A port that cannot be opened, or I/O on it that failed.
class PortError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

// Line settings as the radio's tools write them: "57600,n,8,1" is 57600 baud,
// no parity, 8 data bits, 1 stop bit.
struct LineSettings {
    int baud = 38400;
    char parity = 'n';   // n, o, e, m, s
    int dataBits = 8;    // 4..8
    int stopBits10 = 10; // stop bits times ten: 10, 15 or 20

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Reads a settings string; nullopt when it is not a valid one.
std::optional<LineSettings> parseLineSettings(std::string_view text);

// The serial port the protocol runs over: exactly the operations the exchanges
// need. The program's port is QSerialPort behind QtSerialPort; tests use a port
// wired to the simulated radio.
//
// A new port is closed, on port number 1, at 38400,n,8,1. It keeps its settings
// and port number across close and open.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Applies a settings string, at once even while open. An invalid string
    // raises PortError and leaves the settings as they were.
    virtual void setSettings(std::string_view settings) = 0;
    virtual LineSettings settings() const = 0;

    // The COM port number to open, 1..16 in operation; any other number simply
    // fails to open. Only set while the port is closed.
    virtual void setPortNumber(int number) = 0;
    virtual int portNumber() const = 0;

    virtual bool isOpen() const = 0;
    // Raises PortError when the port does not exist or cannot be opened.
    virtual void open() = 0;
    virtual void close() = 0;

    // Writes bytes unchanged. Raises PortError when the port is closed or the write fails.
    virtual void write(const QByteArray& bytes) = 0;
    // Writes a text as single-byte characters.
    void writeText(const QString& text) { write(text.toLatin1()); }

    // The number of received bytes waiting to be read. Raises PortError when the
    // port is closed or has failed (a cable pulled out).
    virtual int bytesWaiting() = 0;
    // Takes every waiting byte, unchanged. Raises PortError like bytesWaiting.
    virtual QByteArray readAll() = 0;

    // A hint before a wait: the caller will count the waiting bytes after every
    // yield until at least `count` are waiting (or its deadline passes). A port
    // may use it to stay quiet until then rather than raise an event for every
    // byte. Counts and reads are exact whatever the port does with it; readAll()
    // ends the hint.
    virtual void expectBytes(int count) { (void)count; }
};

} // namespace rqv5
