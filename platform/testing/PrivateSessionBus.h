#pragma once

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
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    const std::string &address() const { return address_; }

  private:
    pid_t pid_ = -1;
    std::string folder_;
    std::string address_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace platform::testing
