#pragma once

#include "ScopedEnvironment.h"

#include <string>
#include <sys/types.h>

namespace platform::testing {

// A session bus of one test's own: a dbus-daemon without service activation (nothing starts by
// itself when a name is called), set as DBUS_SESSION_BUS_ADDRESS for this process and the
// processes it starts, stopped at the end. Create it before anything in the process touches
// the bus.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();

    const std::string &address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
    ScopedEnvironment environment_;
};

// Gives the whole test process one such bus, kept until the process ends, so that the tests of
// executables running side by side never meet on a bus. Returns false (and leaves the
// environment alone) when no bus could be started.
bool usePrivateSessionBus();

// True when the executable was only asked for its list of tests (no bus needed for that).
bool listingTestsOnly(int argc, char **argv);

} // namespace platform::testing
