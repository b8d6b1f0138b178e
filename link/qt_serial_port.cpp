#include "qt_serial_port.h"

#include "com_ports.h"
#include "link_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace rqv5 {

namespace {

QSerialPort::Parity toParity(char p) {
    switch (p) {
    case 'o':
        return QSerialPort::OddParity;
    case 'e':
        return QSerialPort::EvenParity;
    case 'm':
        return QSerialPort::MarkParity;
    case 's':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits toStopBits(int tenths) {
    switch (tenths) {
    case 15:
        return QSerialPort::OneAndHalfStop;
    case 20:
        return QSerialPort::TwoStop;
    default:
        return QSerialPort::OneStop;
    }
}

// What went wrong, and what the user can do about it.
QString openAdvice(QSerialPort::SerialPortError error, const QString& device) {
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("no such device: check the cable and that %1 exists, or pick another COM port")
            .arg(device);
    case QSerialPort::PermissionError:
        return QStringLiteral("permission denied or the port is busy: add your user to the dialout group "
                              "(sudo usermod -aG dialout $USER, then log in again), and make sure no other "
                              "program holds %1")
            .arg(device);
    case QSerialPort::OpenError:
        return QStringLiteral("%1 is already open").arg(device);
    default:
        return QStringLiteral("%1 cannot be opened").arg(device);
    }
}

} // namespace

QtSerialPort::QtSerialPort() {
    port_.setReadBufferSize(0);
}

QtSerialPort::~QtSerialPort() {
    close();
}

void QtSerialPort::setSettings(std::string_view settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        throw PortError("invalid port settings \"" + std::string(settings) + "\"");
    // Every exchange applies its settings again, mostly unchanged; the driver is
    // only touched for a real change, and never in the middle of a packet.
    const bool changed = !(*parsed == settings_);
    settings_ = *parsed;
    if (port_.isOpen() && changed)
        applySettings();
}

void QtSerialPort::applySettings() {
    // QSerialPort writes its own copy of the line settings back: a read minimum
    // set earlier is gone after this.
    readMinimum_ = -1;
    const bool ok = port_.setBaudRate(settings_.baud) &&
                    port_.setDataBits(static_cast<QSerialPort::DataBits>(settings_.dataBits)) &&
                    port_.setParity(toParity(settings_.parity)) &&
                    port_.setStopBits(toStopBits(settings_.stopBits10));
    if (!ok)
        throw PortError("cannot apply the port settings: " + port_.errorString().toStdString());
}

void QtSerialPort::open() {
    const auto com = resolveComPort(number_);
    if (!com) {
        qCWarning(lcLink).noquote() << QStringLiteral(
                                           "COM%1: no serial port of this machine has that number; "
                                           "connect the adapter, pick another COM port, or set RQV5_COM%1")
                                           .arg(number_);
        throw PortError("COM" + std::to_string(number_) + " does not exist");
    }
    port_.setPortName(com->device);
    if (!port_.open(QIODevice::ReadWrite)) {
        const auto error = port_.error();
        qCWarning(lcLink).noquote()
            << QStringLiteral("COM%1 (%2): %3").arg(number_).arg(com->device, openAdvice(error, com->device));
        const std::string reason = port_.errorString().toStdString();
        port_.clearError();
        throw PortError("COM" + std::to_string(number_) + " cannot be opened: " + reason);
    }
    try {
        applySettings();
    } catch (...) {
        port_.close();
        throw;
    }
    qCDebug(lcLink).noquote()
        << QStringLiteral("COM%1 open on %2 at %3 baud").arg(number_).arg(com->device).arg(settings_.baud);
}

void QtSerialPort::close() {
    expected_ = 0;
    if (!port_.isOpen())
        return;
    port_.close();
    port_.clearError();
    qCDebug(lcLink).noquote() << QStringLiteral("COM%1 closed").arg(number_);
}

void QtSerialPort::checkUsable(const char* operation) {
    if (!port_.isOpen())
        throw PortError(std::string(operation) + " on a closed port");
    // A pulled cable or a vanished device shows as a resource error.
    if (port_.error() == QSerialPort::ResourceError)
        throw PortError(std::string(operation) + " failed: " + port_.errorString().toStdString());
}

void QtSerialPort::write(const QByteArray& bytes) {
    checkUsable("write");
    qCDebug(lcLink).noquote() << "write" << bytes.size() << bytes.toHex(' ');
    if (port_.write(bytes) != bytes.size())
        throw PortError("write failed: " + port_.errorString().toStdString());
    // Hand the bytes to the device now rather than at the next event: the radio
    // is waiting for them.
    port_.flush();
    checkUsable("write");
}

// A wait counts the waiting bytes after every yield. Over a USB adapter bytes
// arrive a few at a time, every millisecond, and each arrival would wake the
// program for nothing. While a wait is on, the driver is asked (VMIN) to report
// the port readable only once the bytes the wait needs are in; counts still
// include what the driver holds, so they stay exact.
void QtSerialPort::expectBytes(int count) {
    expected_ = count;
    updateReadMinimum();
}

int QtSerialPort::driverWaiting() const {
    int n = 0;
    if (port_.isOpen() && ::ioctl(port_.handle(), FIONREAD, &n) != 0)
        return 0;
    return n;
}

void QtSerialPort::setReadMinimum(int bytes) {
    if (!port_.isOpen() || bytes == readMinimum_)
        return;
    termios t{};
    if (::tcgetattr(port_.handle(), &t) != 0)
        return;
    t.c_cc[VMIN] = static_cast<cc_t>(bytes);
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(port_.handle(), TCSANOW, &t) == 0)
        readMinimum_ = bytes;
}

void QtSerialPort::updateReadMinimum() {
    const qint64 missing = expected_ - port_.bytesAvailable();
    // Once enough is in, the wait ends: nothing to change on the way out.
    if (missing > 0)
        setReadMinimum(static_cast<int>(std::min<qint64>(missing, 255)));
}

int QtSerialPort::bytesWaiting() {
    checkUsable("read");
    const qint64 n = port_.bytesAvailable() + driverWaiting();
    if (expected_ > 0)
        updateReadMinimum();
    return static_cast<int>(std::min<qint64>(n, 1 << 30));
}

QByteArray QtSerialPort::readAll() {
    checkUsable("read");
    expected_ = 0;
    // What QSerialPort has taken in comes first; then whatever the driver still
    // holds, read directly: with a read minimum set, the driver would not report
    // those bytes readable to QSerialPort.
    QByteArray bytes = port_.readAll();
    for (int n = driverWaiting(); n > 0; n = driverWaiting()) {
        const qsizetype at = bytes.size();
        bytes.resize(at + n);
        const ssize_t got = ::read(port_.handle(), bytes.data() + at, static_cast<std::size_t>(n));
        bytes.resize(at + std::max<ssize_t>(got, 0));
        if (got < 0 && errno == EAGAIN)
            break;
        if (got <= 0)
            throw PortError(std::string("read failed: ") + std::strerror(errno));
    }
    if (!bytes.isEmpty())
        qCDebug(lcLink).noquote() << "read" << bytes.size() << bytes.toHex(' ');
    return bytes;
}

} // namespace rqv5
