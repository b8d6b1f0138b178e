#pragma once

// The program's window wired to the in-process radio on a virtual clock, with a
// message recorder in place of modal message boxes, so no test ever blocks.

#include "app/frm_main.h"
#include "app/widgets.h"
#include "inproc_radio.h"

#include <QList>
#include <QProgressBar>
#include <functional>
#include <memory>

namespace rqv5::test {

struct RecordedMessage {
    QString text;
    QString title;
    MessageIcon icon = MessageIcon::None;
    bool hourglass = false;  // the window's pointer while the box was open
    bool barVisible = false; // the progress bar while the box was open
    std::int64_t atMs = 0;   // virtual time
};

class WindowFixture {
public:
    explicit WindowFixture(sim::RadioOptions options = {}, sim::PortSetup ports = {})
        : sim(std::move(options), std::move(ports)) {
        WindowEnvironment env;
        auto simulated = sim.makePort();
        port = simulated.get();
        env.port = std::move(simulated);
        env.clock = &sim.clock();
        env.presenter = [this](const QString& text, const QString& title, MessageIcon icon) {
            messages.append(
                {text, title, icon, window->hourglass(), !window->bar->isHidden(), sim.clock().nowMs()});
            if (onMessage)
                onMessage(messages.last());
        };
        window = std::make_unique<frmMain>(std::move(env));
    }

    sim::RadioModel& radio() { return sim.radio(); }
    QStringList texts() const {
        QStringList t;
        for (const auto& m : messages)
            t << m.text;
        return t;
    }

    sim::InProcessRadio sim;
    sim::SimulatedPort* port = nullptr;
    QList<RecordedMessage> messages;
    // Runs while a message is "open", e.g. to look at the window at that moment.
    std::function<void(const RecordedMessage&)> onMessage;
    std::unique_ptr<frmMain> window;
};

} // namespace rqv5::test
