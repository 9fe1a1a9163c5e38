#include "EventPump.h"

#include "Shared.h"

#include <QCoreApplication>

#include <time.h>

namespace kiro {

namespace {

// Milliseconds on the kernel's coarse monotonic clock. Reading it costs a
// load from memory, no time-stamp counter, so checking it per item of a long
// loop is nearly free; its steps of a few milliseconds suit a 10 ms throttle.
qint64 CoarseMilliseconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

qint64 LastPump = CoarseMilliseconds();

} // namespace

void PumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    LastPump = CoarseMilliseconds();
}

void PumpEventsThrottled()
{
    if (CoarseMilliseconds() - LastPump >= 10)
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
        LastPump = CoarseMilliseconds();
    }
}

} // namespace kiro
