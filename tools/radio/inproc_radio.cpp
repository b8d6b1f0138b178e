#include "inproc_radio.h"

#include <algorithm>
#include <string>

namespace rqv5::sim {

void VirtualClock::at(std::int64_t ms, std::function<void()> action) {
    actions_.emplace(millis(ms), std::move(action));
}

void VirtualClock::armTimer1() {
    if (!timer1Expiry_)
        timer1Expiry_ = now_ + millis(Timer1IntervalMs);
}

std::optional<Micros> VirtualClock::nextEventTime() const {
    std::optional<Micros> next = source_ ? source_->nextEventTime() : std::nullopt;
    const auto earliest = [&next](Micros t) { next = next ? std::min(*next, t) : t; };
    if (timer1Expiry_)
        earliest(*timer1Expiry_);
    if (!actions_.empty())
        earliest(actions_.begin()->first);
    return next;
}

bool VirtualClock::handleDue() {
    bool noticed = source_ && source_->advanceTo(now_);
    if (timer1Expiry_ && *timer1Expiry_ <= now_) {
        timer1Expiry_.reset();
        ++expiries_;
        noticed = true;
    }
    while (!actions_.empty() && actions_.begin()->first <= now_) {
        auto node = actions_.extract(actions_.begin());
        node.mapped()();
        noticed = true;
    }
    return noticed;
}

void VirtualClock::yieldToEvents() {
    ++yields_;
    // A radio byte going onto the line is not yet something the program sees;
    // keep moving until something is.
    while (const auto next = nextEventTime()) {
        now_ = std::max(now_, *next);
        if (handleDue())
            return;
    }
}

void VirtualClock::advanceTo(Micros time) {
    for (auto next = nextEventTime(); next && *next <= time; next = nextEventTime()) {
        now_ = std::max(now_, *next);
        handleDue();
    }
    now_ = std::max(now_, time);
}

SimulatedPort::SimulatedPort(InProcessRadio& radio) : radio_(radio) {}

SimulatedPort::~SimulatedPort() {
    radio_.openPorts_.removeOne(this);
}

void SimulatedPort::setSettings(std::string_view settings) {
    const auto parsed = parseLineSettings(settings);
    if (!parsed)
        throw PortError("invalid line settings \"" + std::string(settings) + "\"");
    settings_ = *parsed;
}

void SimulatedPort::setPortNumber(int number) {
    if (open_)
        throw PortError("port number changed while COM" + std::to_string(portNumber_) + " is open");
    portNumber_ = number;
}

void SimulatedPort::open() {
    // Whatever is due by now arrived while the port was closed.
    radio_.advanceTo(radio_.clock().now());
    const std::string name = "COM" + std::to_string(portNumber_);
    if (open_)
        throw PortError(name + " is already open");
    const PortSetup& setup = radio_.ports();
    if (portNumber_ < 1 || portNumber_ > 16 || !setup.existing.contains(portNumber_))
        throw PortError(name + " does not exist");
    const bool heldElsewhere =
        std::any_of(radio_.openPorts_.begin(), radio_.openPorts_.end(),
                    [this](const SimulatedPort* p) { return p->portNumber_ == portNumber_; });
    if (setup.busy.contains(portNumber_) || heldElsewhere)
        throw PortError(name + " is in use");
    if (portNumber_ == setup.radioPort && radio_.radio().hungUp())
        throw PortError(name + " is gone: the cable was pulled");
    open_ = true;
    waiting_.clear();
    radio_.openPorts_.append(this);
    record(PortEvent::Type::Open);
}

void SimulatedPort::close() {
    if (!open_)
        return;
    open_ = false;
    waiting_.clear();
    radio_.openPorts_.removeOne(this);
    record(PortEvent::Type::Close);
}

void SimulatedPort::checkUsable() const {
    if (!open_)
        throw PortError("COM" + std::to_string(portNumber_) + " is not open");
    if (portNumber_ == radio_.ports().radioPort && radio_.radio().hungUp())
        throw PortError("COM" + std::to_string(portNumber_) + " failed: the cable was pulled");
}

void SimulatedPort::write(const QByteArray& bytes) {
    checkUsable();
    record(PortEvent::Type::Write, bytes);
    if (portNumber_ == radio_.ports().radioPort)
        radio_.radio().receive(bytes, radio_.clock().now(), settings_.baud);
}

int SimulatedPort::bytesWaiting() {
    checkUsable();
    return static_cast<int>(waiting_.size());
}

QByteArray SimulatedPort::readAll() {
    checkUsable();
    return std::exchange(waiting_, {});
}

void SimulatedPort::deliver(const QByteArray& bytes) {
    waiting_.append(bytes);
    peakWaiting_ = std::max(peakWaiting_, static_cast<int>(waiting_.size()));
}

void SimulatedPort::record(PortEvent::Type type, const QByteArray& bytes) {
    events_.append({type, radio_.clock().now(), portNumber_, settings_, bytes});
}

QList<PortEvent> SimulatedPort::writes() const {
    QList<PortEvent> result;
    for (const PortEvent& e : events_) {
        if (e.type == PortEvent::Type::Write)
            result.append(e);
    }
    return result;
}

QByteArray SimulatedPort::written() const {
    QByteArray result;
    for (const PortEvent& e : events_)
        result.append(e.bytes);
    return result;
}

int SimulatedPort::openCount() const {
    return static_cast<int>(std::count_if(
        events_.begin(), events_.end(), [](const PortEvent& e) { return e.type == PortEvent::Type::Open; }));
}

InProcessRadio::InProcessRadio(RadioOptions options, PortSetup ports)
    : radio_(std::move(options)), ports_(std::move(ports)) {
    clock_.setEventSource(this);
}

InProcessRadio::~InProcessRadio() {
    clock_.setEventSource(nullptr);
}

std::unique_ptr<SimulatedPort> InProcessRadio::makePort() {
    return std::unique_ptr<SimulatedPort>(new SimulatedPort(*this));
}

std::optional<Micros> InProcessRadio::nextEventTime() const {
    return radio_.nextEventTime();
}

bool InProcessRadio::advanceTo(Micros now) {
    const QByteArray bytes = radio_.takeOutput(now);
    bool noticed = false;
    // Bytes arriving while no port on the radio's number is open are lost.
    for (SimulatedPort* port : openPorts_) {
        if (port->portNumber_ == ports_.radioPort && !bytes.isEmpty()) {
            port->deliver(bytes);
            noticed = true;
        }
    }
    if (radio_.hungUp() && !hangUpSeen_) {
        hangUpSeen_ = true;
        noticed = true;
    }
    return noticed;
}

} // namespace rqv5::sim
