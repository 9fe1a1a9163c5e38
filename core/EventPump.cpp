#include "EventPump.h"

#include "Shared.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace kiro {

namespace {

QElapsedTimer &SinceLastPump()
{
    static QElapsedTimer timer;
    if (!timer.isValid())
        timer.start();
    return timer;
}

} // namespace

void PumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    SinceLastPump().restart();
}

void PumpEventsThrottled()
{
    if (SinceLastPump().elapsed() >= 10)
        PumpEvents();
}

bool WaitFor(const std::function<bool()> &done)
{
    while (true) {
        if (AbortFlag == 1)
            return false;
        if (done())
            return true;
        // Everything that can end the wait (a transfer's notification, a
        // click on Stop, a timer) arrives as an event.
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        SinceLastPump().restart();
    }
}

} // namespace kiro
