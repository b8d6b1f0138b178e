#pragma once

namespace rqv5 {

// The deadline timer Timer1 and the yield that every wait for the radio uses.
//
// A wait is: arm the timer, then as long as it runs, yield and count the waiting
// bytes. In the program the timer is a single-shot 5000 ms QTimer and a yield
// blocks until at least one event (serial data, the timer, user input) has been
// processed, so a wait costs no CPU. Tests use a virtual clock whose yield moves
// time on to the next thing that happens, so a 5-second time-out takes no time.
class WaitClock {
public:
    static constexpr int Timer1IntervalMs = 5000;

    virtual ~WaitClock() = default;

    // Starts a full 5000 ms period when the timer is not running; does nothing
    // when it already runs.
    virtual void armTimer1() = 0;
    virtual void disarmTimer1() = 0;
    virtual bool timer1Running() const = 0;

    // Processes pending events; blocks until at least one has been processed.
    // The timer's expiry is delivered only here.
    virtual void yieldToEvents() = 0;
};

} // namespace rqv5
