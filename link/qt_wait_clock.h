#pragma once

#include "wait_clock.h"

class QTimer;

namespace rqv5 {

// The program's wait: Timer1 is a single-shot 5000 ms QTimer, and a yield
// processes pending events, sleeping until at least one arrives - serial data,
// the timer, or the user - so a wait for a silent radio costs no CPU.
class QtWaitClock : public WaitClock {
public:
    explicit QtWaitClock(QTimer& timer1) : timer1_(timer1) {}

    void armTimer1() override;
    void disarmTimer1() override;
    bool timer1Running() const override;
    void yieldToEvents() override;

private:
    QTimer& timer1_;
};

} // namespace rqv5
