#pragma once

#include "ScopedEnvironment.h"

#include <string>
#include <sys/types.h>

namespace platform::testing {

// A dbus-daemon of one test's own, without service activation (nothing starts by itself when a
// name is called), stopped at the end. It leaves this process's environment alone: whoever
// needs it is handed address(). Throws std::runtime_error when the daemon cannot start.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus &) = delete;
    PrivateBus &operator=(const PrivateBus &) = delete;

    const std::string &address() const { return address_; }

private:
    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
};

// Such a bus set as DBUS_SESSION_BUS_ADDRESS for this process and the processes it starts.
// Create it before anything in the process touches the bus.
class PrivateSessionBus {
public:
    PrivateSessionBus() { environment_.set("DBUS_SESSION_BUS_ADDRESS", bus_.address()); }
    ~PrivateSessionBus() { environment_.restore(); }

    const std::string &address() const { return bus_.address(); }

private:
    PrivateBus bus_;
    ScopedEnvironment environment_;
};

// Gives the whole test process one such bus, kept until the process ends, so that the tests of
// executables running side by side never meet on a bus. Returns false (and leaves the
// environment alone) when no bus could be started.
bool usePrivateSessionBus();

// True when the executable was only asked for its list of tests (no bus needed for that).
bool listingTestsOnly(int argc, char **argv);

} // namespace platform::testing
