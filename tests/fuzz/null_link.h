#pragma once

// A Link that never talks to anything: the fuzz targets only feed its decoders
// through RxBuf, so its port and host just have to exist.

#include "link/link.h"

namespace rqv5::fuzz {

class NullPort : public SerialPort {
public:
    void setSettings(std::string_view) override {}
    LineSettings settings() const override { return {}; }
    void setPortNumber(int) override {}
    int portNumber() const override { return 1; }
    bool isOpen() const override { return false; }
    void open() override { throw PortError("no port in a fuzz target"); }
    void close() override {}
    void write(const QByteArray&) override { throw PortError("no port in a fuzz target"); }
    int bytesWaiting() override { return 0; }
    QByteArray readAll() override { return {}; }
};

class NullHost : public LinkHost {
public:
    void armTimer1() override {}
    void disarmTimer1() override {}
    bool timer1Running() const override { return false; }
    void yieldToEvents() override {}
    std::int16_t GetCOM() override { return 1; }
    int selectedBaudOption() override { return 2; }
    int selectedPortOption() override { return 3; }
    QString pinNumberText() override { return {}; }
    void setBarValue(int) override {}
    void setText1(const QString&) override {}
};

struct NullLink {
    NullPort port;
    NullHost host;
    MemoryImage image;
    Link link{port, host, image};
};

} // namespace rqv5::fuzz
