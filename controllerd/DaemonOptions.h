#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the controller daemon stand-in behaves; faults come from the command line so tests can
// provoke every answer the client must survive.
struct DaemonOptions {
    // What holds the controller: a simulated one, or a real one through BlueZ and the kernel.
    enum class Backend { Simulator, Linux };
    Backend backend = Backend::Simulator;
    // The keyboard played as a gamepad (type 6) types nothing else while it plays.
    bool grabKeyboards = false;
    std::string logPath;      // empty: standard output
    bool timestamps = false;  // each log line begins with "t=SECONDS " on the monotonic clock
    bool neverAnswer = false; // read everything, reply to nothing, close nothing
    bool closeWithoutReply = false;
    bool refuseConnect = false;
    int shortReply = -1;      // >= 0: replies carry only this many bytes, then the line closes
    int partialReply = -1;    // >= 0: replies carry only this many bytes, then the line is silent
    int trickleMs = 0;        // > 0: replies go out one byte at a time, this far apart
    int replyDelayMs = 0;     // before every reply
    int connectDelayMs = 100; // how long "searching" lasts before the controller shows up
    std::optional<std::int32_t> connectedType; // start with a controller already connected
    std::array<std::uint8_t, 6> connectedAddress{};

    // Parses argv; on a bad option fills `error` and returns nothing.
    static std::optional<DaemonOptions> parse(const std::vector<std::string> &arguments,
                                              std::string &error);
    // The usage lines, after "usage: ".
    static const char *usage();
};
