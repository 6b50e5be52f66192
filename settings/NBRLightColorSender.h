#pragma once

#include "NBRConstants.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// Light-bar colours on their way to the controller daemon, one connection each, off the main
// thread. Only the newest colour waits: one that comes while a send is still under way (a daemon
// slow to take connections) replaces the one waiting, so the light never works through a backlog
// of colours the finger has left. Sends are spaced at least `spacing` apart.
class NBRLightColorSender {
public:
    // Opens a connection, sends the colour (0xRRGGBB), closes; false when no connection could be
    // made.
    using Transport = std::function<bool(std::uint32_t pixel)>;

    static constexpr std::chrono::microseconds kSpacing = NBRLiveColorInterval;

    NBRLightColorSender(Transport transport = overControlSocket,
                        std::function<void()> failed = postFailure,
                        std::chrono::microseconds spacing = kSpacing);
    ~NBRLightColorSender();
    NBRLightColorSender(const NBRLightColorSender &) = delete;
    NBRLightColorSender &operator=(const NBRLightColorSender &) = delete;

    // Returns at once. `reportFailure`: whether a colour that cannot be sent says so (a drag's
    // intermediate colours do not, or a missing daemon would be reported many times a second).
    void send(std::uint32_t pixel, bool reportFailure);
    // True once nothing waits or is under way (for tests and for leaving), false at the deadline.
    bool waitUntilIdle(std::chrono::milliseconds timeout) const;

    // The colour on a connection the caller holds and closes; no reply is read.
    static void sendOnConnection(int fd, std::uint32_t pixel);
    // The colour on a connection of its own, opened, used and closed on the calling thread.
    // `wait` bounds the connect to a daemon whose queue of connections is full (zero: no bound).
    // False when no connection could be made.
    static bool sendOnOwnConnection(std::uint32_t pixel,
                                    std::chrono::milliseconds wait = std::chrono::milliseconds(0));
    // The transport of the sends: waits at most a second for the daemon's queue.
    static bool overControlSocket(std::uint32_t pixel);
    // The failure notification.
    static void postFailure();

private:
    struct State;
    static void drain(std::shared_ptr<State> state);
    std::shared_ptr<State> state_;
};
