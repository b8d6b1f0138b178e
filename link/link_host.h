#pragma once

#include "image/errors.h"
#include "wait_clock.h"

#include <QString>
#include <cstdint>

namespace rqv5 {

// Raised by a host's yield when the window is closing in the middle of an
// exchange: the running procedure is abandoned at its next wait, its trap closes
// the port, and the program can exit.
class Abandoned : public RuntimeError {
public:
    Abandoned() : RuntimeError("exchange abandoned: the window is closing") {}
};

// What the protocol procedures need from the window that runs them: the deadline
// timer and the yield (WaitClock), the port chosen in the COM menu, the chosen
// baud-rate and port-pin options, the pin-number box, and the progress outputs.
class LinkHost : public WaitClock {
public:
    // The COM port number checked in the menu, 1..16, or 17 when none is.
    virtual std::int16_t GetCOM() = 0;
    // The checked baud-rate option: 0 is 9600, 1 is 38400, 2 is 57600; -1 if none.
    virtual int selectedBaudOption() = 0;
    // The checked port-pin action: 0 drive low, 1 drive high, 2 input, 3 read; -1 if none.
    virtual int selectedPortOption() = 0;
    // The text of the pin-number box, which also takes the boot-block access code.
    virtual QString pinNumberText() = 0;
    // The progress bar's value: a memory-image row, 0xC000..0xFFFF.
    virtual void setBarValue(int row) = 0;
    // The progress text box.
    virtual void setText1(const QString& text) = 0;
};

} // namespace rqv5
