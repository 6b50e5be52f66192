#pragma once

#include "TestTimeScale.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>

namespace platform::testing {

// Runs the event loop until `done()` holds or the time is up; returns `done()`.
template <typename Condition>
bool spinUntil(Condition done,
               std::chrono::milliseconds timeout = scaled(std::chrono::seconds(5))) {
    QDeadlineTimer deadline(timeout);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    return done();
}

} // namespace platform::testing
