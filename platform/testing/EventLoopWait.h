#pragma once

#include "TestTimeScale.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <chrono>
#include <thread>

namespace platform::testing {

// Runs the event loop until `done()` holds or the time is up; returns `done()`. Without an
// application object (a process with no event loop) it polls instead.
template <typename Condition>
bool spinUntil(Condition done,
               std::chrono::milliseconds timeout = scaled(std::chrono::seconds(5))) {
    QDeadlineTimer deadline(timeout);
    while (!done() && !deadline.hasExpired()) {
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents,
                                            10);
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

} // namespace platform::testing
