#pragma once

#include "serial_port.h"

#include <QSerialPort>

namespace rqv5 {

// The program's serial port: a QSerialPort on the device that the COM number
// stands for (see resolveComPort). Open failures are reported on the rqv5.link
// logging category with their reason and what to do about it.
class QtSerialPort : public SerialPort {
public:
    QtSerialPort();
    ~QtSerialPort() override;

    void setSettings(std::string_view settings) override;
    LineSettings settings() const override { return settings_; }
    void setPortNumber(int number) override { number_ = number; }
    int portNumber() const override { return number_; }
    bool isOpen() const override { return port_.isOpen(); }
    void open() override;
    void close() override;
    void write(const QByteArray& bytes) override;
    int bytesWaiting() override;
    QByteArray readAll() override;
    void expectBytes(int count) override;

private:
    void applySettings();
    void checkUsable(const char* operation);
    // Bytes the driver holds that QSerialPort has not read yet.
    int driverWaiting() const;
    // The driver reports the port readable once this many bytes are in (VMIN).
    void setReadMinimum(int bytes);
    void updateReadMinimum();

    QSerialPort port_;
    LineSettings settings_;
    int number_ = 1;
    int expected_ = 0;
    int readMinimum_ = -1; // the VMIN last set; -1 when QSerialPort may have reset it
};

} // namespace rqv5
