#pragma once

// A LinkHost for protocol tests: it waits on the in-process radio's virtual
// clock, offers the window's options as plain fields, and records the progress
// outputs.

#include "inproc_radio.h"
#include "link/link_host.h"

#include <QList>
#include <QStringList>

namespace rqv5::test {

class TestHost : public LinkHost {
public:
    explicit TestHost(sim::VirtualClock& clock) : clock_(clock) {}

    std::int16_t com = 1;
    int baudOption = 2; // 57600, as the window starts
    int portOption = 3; // read the pin
    QString pinNumber;
    QList<int> barValues;
    QStringList text1;

    std::int16_t GetCOM() override { return com; }
    int selectedBaudOption() override { return baudOption; }
    int selectedPortOption() override { return portOption; }
    QString pinNumberText() override { return pinNumber; }
    void setBarValue(int row) override { barValues.append(row); }
    void setText1(const QString& text) override { text1.append(text); }

    void armTimer1() override { clock_.armTimer1(); }
    void disarmTimer1() override { clock_.disarmTimer1(); }
    bool timer1Running() const override { return clock_.timer1Running(); }
    void yieldToEvents() override { clock_.yieldToEvents(); }

    sim::VirtualClock& clock() { return clock_; }

private:
    sim::VirtualClock& clock_;
};

} // namespace rqv5::test
