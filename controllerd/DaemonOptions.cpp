#include "DaemonOptions.h"

#include <charconv>

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

} // namespace

const char *DaemonOptions::usage() {
    return "usage: nbr-controllerd [--log FILE] [--timestamps] [--never-answer]\n"
           "                       [--close-without-reply]\n"
           "                       [--refuse-connect] [--short-reply BYTES]\n"
           "                       [--partial-reply BYTES] [--trickle MS] [--delay MS]\n"
           "                       [--connect-delay MS] [--connected TYPE[,ADDRESS]]\n";
}

std::optional<DaemonOptions> DaemonOptions::parse(const std::vector<std::string> &arguments,
                                                  std::string &error) {
    DaemonOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &option = arguments[i];
        auto value = [&]() -> const std::string * {
            if (i + 1 >= arguments.size()) {
                error = option + " needs a value";
                return nullptr;
            }
            return &arguments[++i];
        };
        auto number = [&](int &out) {
            const std::string *text = value();
            if (text && !parseInt(*text, out))
                error = option + ": not a number: " + *text;
            return text != nullptr && error.empty();
        };
        if (option == "--log") {
            const std::string *text = value();
            if (!text)
                return std::nullopt;
            options.logPath = *text;
        } else if (option == "--timestamps") {
            options.timestamps = true;
        } else if (option == "--never-answer") {
            options.neverAnswer = true;
        } else if (option == "--close-without-reply") {
            options.closeWithoutReply = true;
        } else if (option == "--refuse-connect") {
            options.refuseConnect = true;
        } else if (option == "--short-reply") {
            if (!number(options.shortReply))
                return std::nullopt;
        } else if (option == "--partial-reply") {
            if (!number(options.partialReply))
                return std::nullopt;
        } else if (option == "--trickle") {
            if (!number(options.trickleMs))
                return std::nullopt;
        } else if (option == "--delay") {
            if (!number(options.replyDelayMs))
                return std::nullopt;
        } else if (option == "--connect-delay") {
            if (!number(options.connectDelayMs))
                return std::nullopt;
        } else if (option == "--connected") {
            const std::string *text = value();
            if (!text)
                return std::nullopt;
            auto comma = text->find(',');
            int type = 0;
            if (!parseInt(text->substr(0, comma), type) || type > 6 ||
                (comma != std::string::npos &&
                 !parseAddress(text->substr(comma + 1), options.connectedAddress))) {
                error = "--connected: expected TYPE[,ADDRESS], got " + *text;
                return std::nullopt;
            }
            options.connectedType = type;
        } else {
            error = "unknown option " + option;
            return std::nullopt;
        }
    }
    return options;
}
