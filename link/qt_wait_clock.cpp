#include "qt_wait_clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

namespace rqv5 {

void QtWaitClock::armTimer1() {
    if (!timer1_.isActive())
        timer1_.start();
}

void QtWaitClock::disarmTimer1() {
    timer1_.stop();
}

bool QtWaitClock::timer1Running() const {
    return timer1_.isActive();
}

void QtWaitClock::yieldToEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

} // namespace rqv5
