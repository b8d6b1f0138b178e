#pragma once

// The link's procedures wired to the in-process radio on a virtual clock: a
// simulated port, a host whose options are plain fields, and a memory image.

#include "image/memory_image.h"
#include "link/link.h"
#include "test_host.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>

namespace rqv5::test {

// A progress text with the number of port writes made before it was shown, so a
// test can tell what the window showed while a packet went out.
struct ProgressStep {
    QString text1;
    int writesBefore = 0;
};

class RecordingHost : public TestHost {
public:
    RecordingHost(sim::VirtualClock& clock, const sim::SimulatedPort& port) : TestHost(clock), port_(port) {}

    QList<ProgressStep> steps;

    void setText1(const QString& text) override {
        TestHost::setText1(text);
        steps.append({text, int(port_.writes().size())});
    }

    // The progress text shown when the write with this index went out.
    QString text1AtWrite(int writeIndex) const {
        QString shown;
        for (const ProgressStep& s : steps)
            if (s.writesBefore <= writeIndex)
                shown = s.text1;
        return shown;
    }

private:
    const sim::SimulatedPort& port_;
};

struct LinkRig {
    explicit LinkRig(sim::RadioOptions options = {}, sim::PortSetup ports = {})
        : sim(std::move(options), std::move(ports)), port(sim.makePort()), host(sim.clock(), *port),
          link(*port, host, image) {}

    sim::RadioModel& radio() { return sim.radio(); }
    sim::VirtualClock& clock() { return sim.clock(); }
    // Every procedure leaves the port closed and the deadline timer idle.
    bool idle() const { return !port->isOpen() && !host.timer1Running(); }

    sim::InProcessRadio sim;
    std::unique_ptr<sim::SimulatedPort> port;
    RecordingHost host;
    MemoryImage image;
    Link link;
};

inline sim::RadioOptions radioWith(const std::function<void(sim::RadioOptions&)>& change) {
    sim::RadioOptions options;
    change(options);
    return options;
}

} // namespace rqv5::test
