#include "DaemonOptions.h"

#include <charconv>
#include <string_view>
#include <utility>

namespace {

bool parseInt(const std::string &text, int &value) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= 0;
}

// "0a:1b:2c:3d:4e:5f" or "0a1b2c3d4e5f"
bool parseAddress(std::string text, std::array<std::uint8_t, 6> &address) {
    std::erase(text, ':');
    if (text.size() != 12)
        return false;
    for (std::size_t i = 0; i < 6; ++i) {
        unsigned value = 0;
        auto [end, ec] = std::from_chars(text.data() + 2 * i, text.data() + 2 * i + 2, value, 16);
        if (ec != std::errc() || end != text.data() + 2 * i + 2)
            return false;
        address[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

constexpr std::pair<std::string_view, bool DaemonOptions::*> kSwitches[] = {
    {"--timestamps", &DaemonOptions::timestamps},
    {"--never-answer", &DaemonOptions::neverAnswer},
    {"--close-without-reply", &DaemonOptions::closeWithoutReply},
    {"--refuse-connect", &DaemonOptions::refuseConnect},
    {"--grab-keyboards", &DaemonOptions::grabKeyboards},
};

constexpr std::pair<std::string_view, int DaemonOptions::*> kNumbers[] = {
    {"--short-reply", &DaemonOptions::shortReply},
    {"--partial-reply", &DaemonOptions::partialReply},
    {"--trickle", &DaemonOptions::trickleMs},
    {"--delay", &DaemonOptions::replyDelayMs},
    {"--connect-delay", &DaemonOptions::connectDelayMs},
};

// The arguments with the one being read.
struct ArgumentCursor {
    const std::vector<std::string> &arguments;
    std::string &error;
    std::size_t i = 0;

    // Null (with `error`) when the arguments end before the option's value.
    const std::string *value(const std::string &option) {
        if (i + 1 >= arguments.size()) {
            error = option + " needs a value";
            return nullptr;
        }
        return &arguments[++i];
    }

    bool number(const std::string &option, int &out) {
        const std::string *text = value(option);
        if (text && !parseInt(*text, out))
            error = option + ": not a number: " + *text;
        return text != nullptr && error.empty();
    }
};

// "TYPE[,ADDRESS]"
bool parseConnected(ArgumentCursor &cursor, const std::string &option, DaemonOptions &options) {
    const std::string *text = cursor.value(option);
    if (!text)
        return false;
    auto comma = text->find(',');
    int type = 0;
    if (!parseInt(text->substr(0, comma), type) || type > 6 ||
        (comma != std::string::npos &&
         !parseAddress(text->substr(comma + 1), options.connectedAddress))) {
        cursor.error = "--connected: expected TYPE[,ADDRESS], got " + *text;
        return false;
    }
    options.connectedType = type;
    return true;
}

bool parseOption(ArgumentCursor &cursor, DaemonOptions &options) {
    const std::string &option = cursor.arguments[cursor.i];
    for (const auto &[name, field] : kSwitches)
        if (option == name) {
            options.*field = true;
            return true;
        }
    for (const auto &[name, field] : kNumbers)
        if (option == name)
            return cursor.number(option, options.*field);
    if (option == "--log") {
        const std::string *text = cursor.value(option);
        if (text)
            options.logPath = *text;
        return text != nullptr;
    }
    if (option == "--connected")
        return parseConnected(cursor, option, options);
    if (option == "--backend") {
        const std::string *text = cursor.value(option);
        if (text && *text != "simulator" && *text != "linux")
            cursor.error = "--backend: expected simulator or linux, got " + *text;
        if (text && cursor.error.empty())
            options.backend = *text == "linux" ? DaemonOptions::Backend::Linux
                                               : DaemonOptions::Backend::Simulator;
        return text != nullptr && cursor.error.empty();
    }
    cursor.error = "unknown option " + option;
    return false;
}

} // namespace

const char *DaemonOptions::usage() {
    return "nbr-controllerd [--backend simulator|linux] [--grab-keyboards] [--log FILE]\n"
           "                       [--timestamps] [--never-answer] [--close-without-reply]\n"
           "                       [--refuse-connect] [--short-reply BYTES]\n"
           "                       [--partial-reply BYTES] [--trickle MS] [--delay MS]\n"
           "                       [--connect-delay MS] [--connected TYPE[,ADDRESS]]\n";
}

std::optional<DaemonOptions> DaemonOptions::parse(const std::vector<std::string> &arguments,
                                                  std::string &error) {
    DaemonOptions options;
    bool simulatedOnly = false;
    for (ArgumentCursor cursor{arguments, error}; cursor.i < arguments.size(); ++cursor.i) {
        const std::string &option = cursor.arguments[cursor.i];
        if (option == "--refuse-connect" || option == "--connect-delay" || option == "--connected")
            simulatedOnly = true;
        if (!parseOption(cursor, options))
            return std::nullopt;
    }
    // A real controller's connect is BlueZ's to make or refuse.
    if (options.grabKeyboards && options.backend != DaemonOptions::Backend::Linux) {
        error = "--grab-keyboards is for the keyboard of --backend linux";
        return std::nullopt;
    }
    if (simulatedOnly && options.backend == DaemonOptions::Backend::Linux) {
        error = "--refuse-connect, --connect-delay and --connected simulate a controller: "
                "not with --backend linux";
        return std::nullopt;
    }
    return options;
}
