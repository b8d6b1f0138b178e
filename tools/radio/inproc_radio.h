#pragma once

#include "link/serial_port.h"
#include "link/wait_clock.h"
#include "radio_model.h"

#include <QList>
#include <functional>
#include <map>
#include <memory>
#include <optional>

namespace rqv5::sim {

// Virtual time for tests: it moves only when the program yields, and then
// straight to the next thing that happens, so a 5-second deadline costs nothing.
class VirtualClock : public rqv5::WaitClock {
public:
    // Something with events of its own at virtual times: the simulated radio line.
    class EventSource {
    public:
        virtual ~EventSource() = default;
        virtual std::optional<Micros> nextEventTime() const = 0;
        // Handles everything due by `now`; true when the program can notice it.
        virtual bool advanceTo(Micros now) = 0;
    };

    void setEventSource(EventSource* source) { source_ = source; }

    Micros now() const { return now_; }
    std::int64_t nowMs() const { return now_ / 1000; }

    // Runs `action` in the yield that reaches `ms` (virtual milliseconds since
    // start), e.g. a user's click during a wait. Actions due at the same time run
    // in the order they were scheduled.
    void at(std::int64_t ms, std::function<void()> action);
    void after(std::int64_t ms, std::function<void()> action) { at(nowMs() + ms, std::move(action)); }

    void armTimer1() override;
    void disarmTimer1() override { timer1Expiry_.reset(); }
    bool timer1Running() const override { return timer1Expiry_.has_value(); }
    // Moves time on to the next radio delivery, Timer1 expiry or scheduled
    // action and handles everything due then. With nothing pending it returns
    // at once and time stands still.
    void yieldToEvents() override;

    // Lets time pass up to `time`, handling everything due on the way, as if the
    // program were busy elsewhere.
    void advanceTo(Micros time);

    int yieldCount() const { return yields_; }
    int timer1Expiries() const { return expiries_; }

private:
    std::optional<Micros> nextEventTime() const;
    bool handleDue();

    EventSource* source_ = nullptr;
    Micros now_ = 0;
    std::optional<Micros> timer1Expiry_;
    std::multimap<Micros, std::function<void()>> actions_;
    int yields_ = 0;
    int expiries_ = 0;
};

// Which port numbers exist for a SimulatedPort.
struct PortSetup {
    QList<int> existing{1}; // numbers that can be opened; only 1..16 ever can
    int radioPort = 1;      // the one the radio is attached to
    QList<int> busy{};      // exist but are held by another program
};

// What the program did with a port.
struct PortEvent {
    enum class Type { Open, Close, Write };
    Type type;
    Micros at;
    int portNumber;
    LineSettings settings;
    QByteArray bytes; // for Write
};

class InProcessRadio;

// The program's serial port, wired to the in-process radio. It behaves like the
// real port: bytes become readable only when the clock delivers them, closing
// discards what was not read, and once the radio hangs up every I/O fails and
// the port no longer opens.
class SimulatedPort : public rqv5::SerialPort {
public:
    ~SimulatedPort() override;

    void setSettings(std::string_view settings) override;
    LineSettings settings() const override { return settings_; }
    // Raises PortError while the port is open.
    void setPortNumber(int number) override;
    int portNumber() const override { return portNumber_; }
    bool isOpen() const override { return open_; }
    void open() override;
    void close() override;
    void write(const QByteArray& bytes) override;
    int bytesWaiting() override;
    QByteArray readAll() override;

    const QList<PortEvent>& events() const { return events_; }
    QList<PortEvent> writes() const;
    QByteArray written() const;
    int openCount() const;
    // The most bytes that were waiting unread at one time.
    int peakWaiting() const { return peakWaiting_; }

private:
    friend class InProcessRadio;
    explicit SimulatedPort(InProcessRadio& radio);
    void record(PortEvent::Type type, const QByteArray& bytes = {});
    void checkUsable() const;
    void deliver(const QByteArray& bytes);

    InProcessRadio& radio_;
    LineSettings settings_;
    int portNumber_ = 1;
    bool open_ = false;
    QByteArray waiting_;
    QList<PortEvent> events_;
    int peakWaiting_ = 0;
};

// The radio, the clock and the ports in one: what a protocol test needs.
//
//   InProcessRadio sim(options);
//   auto port = sim.makePort();
//   ... run the program's procedure with *port and sim.clock() ...
//   QCOMPARE(sim.radio().count(Kind::PG), 250);
class InProcessRadio : private VirtualClock::EventSource {
public:
    explicit InProcessRadio(RadioOptions options = {}, PortSetup ports = {});
    ~InProcessRadio() override;
    InProcessRadio(const InProcessRadio&) = delete;
    InProcessRadio& operator=(const InProcessRadio&) = delete;

    RadioModel& radio() { return radio_; }
    VirtualClock& clock() { return clock_; }
    const PortSetup& ports() const { return ports_; }
    // A new closed port on number 1 at 38400,n,8,1. The InProcessRadio must
    // outlive it.
    std::unique_ptr<SimulatedPort> makePort();

private:
    friend class SimulatedPort;
    std::optional<Micros> nextEventTime() const override;
    bool advanceTo(Micros now) override;

    RadioModel radio_;
    VirtualClock clock_;
    PortSetup ports_;
    QList<SimulatedPort*> openPorts_;
    bool hangUpSeen_ = false;
};

} // namespace rqv5::sim
