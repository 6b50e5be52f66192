// messagingutil -s [-b] [-n COUNT] CENTER MESSAGE...   serve CENTER, print each message taken
//                                                       ("ready" once serving)
// messagingutil -p [-b] CENTER MESSAGE [KEY=T:VALUE...] send one message; T is s (string),
//                                                       i (integer), r (real), b (boolean:
//                                                       true/false) or d (data, hexadecimal)
// messagingutil -u CENTER...                            unlock each CENTER until SIGINT/SIGTERM
//                                                       ("ready" once unlocked)
// -b applies the bootstrap to the center. A printed message reads
// "MESSAGE KEY=T:VALUE..." with the keys in order.
#include "CPDistributedMessagingCenter.h"
#include "MessagingBus.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"
#include "rocketbootstrap.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

using platform::PlistValue;

namespace {

const platform::ToolDescription kTool{
    "messagingutil",
    "Serves, sends to or unlocks a distributed messaging center on the session bus.",
    "messagingutil -s [-b] [-n COUNT] CENTER MESSAGE...\n"
    "       messagingutil -p [-b] CENTER MESSAGE [KEY=T:VALUE...]\n"
    "       messagingutil -u CENTER...\n",
    "  -s  serve CENTER, print each message taken (\"ready\" once serving)\n"
    "  -p  send one message; T is s (string), i (integer), r (real), b (boolean: true/false)\n"
    "      or d (data, hexadecimal)\n"
    "  -u  unlock each CENTER until SIGINT/SIGTERM (\"ready\" once unlocked)\n"
    "  -b  applies the bootstrap to the center\n"
    "A printed message reads \"MESSAGE KEY=T:VALUE...\" with the keys in order.\n"};

int usage(const std::string &problem = {}) {
    return platform::usageError(kTool, problem);
}

std::optional<PlistValue::Data> hexBytes(const std::string &text) {
    if (text.size() % 2 != 0)
        return std::nullopt;
    PlistValue::Data bytes;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        char *end = nullptr;
        const std::string pair = text.substr(i, 2);
        const long byte = std::strtol(pair.c_str(), &end, 16);
        if (*end != '\0')
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(byte));
    }
    return bytes;
}

std::optional<PlistValue> parseValue(const std::string &typed) {
    if (typed.size() < 2 || typed[1] != ':')
        return std::nullopt;
    const std::string text = typed.substr(2);
    char *end = nullptr;
    switch (typed[0]) {
    case 's':
        return PlistValue(text);
    case 'i': {
        const long long number = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0')
            return std::nullopt;
        return PlistValue(number);
    }
    case 'r': {
        const double number = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0')
            return std::nullopt;
        return PlistValue(number);
    }
    case 'b':
        if (text == "true" || text == "false")
            return PlistValue(text == "true");
        return std::nullopt;
    case 'd':
        if (auto bytes = hexBytes(text))
            return PlistValue(std::move(*bytes));
        return std::nullopt;
    }
    return std::nullopt;
}

std::string formatValue(const PlistValue &value) {
    char buffer[64];
    switch (value.type()) {
    case PlistValue::Type::String:
        return "s:" + *value.string();
    case PlistValue::Type::Integer:
        return "i:" + std::to_string(*value.integer());
    case PlistValue::Type::Real:
        std::snprintf(buffer, sizeof buffer, "r:%.17g", *value.real());
        return buffer;
    case PlistValue::Type::Boolean:
        return *value.boolean() ? "b:true" : "b:false";
    case PlistValue::Type::Data: {
        std::string out = "d:";
        for (std::uint8_t byte : *value.data()) {
            std::snprintf(buffer, sizeof buffer, "%02x", byte);
            out += buffer;
        }
        return out;
    }
    case PlistValue::Type::Date:
        std::snprintf(buffer, sizeof buffer, "t:%.17g", value.date()->secondsSinceReferenceDate);
        return buffer;
    case PlistValue::Type::Array:
        return "a:" + std::to_string(value.array()->size());
    case PlistValue::Type::Dictionary:
        return "D:" + std::to_string(value.dictionary()->size());
    }
    return "?";
}

struct Options {
    std::string mode;
    int next = 2; // the first argument after the flags
    bool bootstrap = false;
    long remaining = -1;
};

std::optional<Options> parseOptions(int argc, char **argv) {
    if (argc < 3)
        return std::nullopt;
    Options options;
    options.mode = argv[1];
    int &next = options.next;
    while (next < argc && argv[next][0] == '-') {
        if (std::strcmp(argv[next], "-b") == 0) {
            options.bootstrap = true;
            ++next;
        } else if (std::strcmp(argv[next], "-n") == 0 && next + 1 < argc) {
            options.remaining = std::strtol(argv[next + 1], nullptr, 10);
            next += 2;
        } else {
            return std::nullopt;
        }
    }
    if (next >= argc)
        return std::nullopt;
    return options;
}

int runUntilQuit(QCoreApplication &app) {
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

int unlock(QCoreApplication &app, int first, int argc, char **argv) {
    for (int i = first; i < argc; ++i)
        if (rocketbootstrap_unlock(argv[i]) != KERN_SUCCESS)
            return 1;
    return runUntilQuit(app);
}

// argv[first] is the message's name, the rest its userInfo.
int post(CPDistributedMessagingCenter &center, int first, int argc, char **argv) {
    PlistValue::Dictionary userInfo;
    for (int i = first + 1; i < argc; ++i) {
        const std::string pair = argv[i];
        const std::size_t equals = pair.find('=');
        auto value =
            equals == std::string::npos ? std::nullopt : parseValue(pair.substr(equals + 1));
        if (!value)
            return usage();
        userInfo[pair.substr(0, equals)] = std::move(*value);
    }
    const bool sent = center.sendMessageName(argv[first], userInfo);
    platform::messaging::settleClientMessages();
    return sent ? 0 : 1;
}

// argv[first...] are the messages to take; after `remaining` of them (when positive) it quits.
int serve(QCoreApplication &app, CPDistributedMessagingCenter &center, const char *name,
          long remaining, int first, int argc, char **argv) {
    for (int i = first; i < argc; ++i)
        center.registerForMessageName(
            argv[i], [&remaining](const std::string &message, const PlistValue::Dictionary &info) {
                std::string line = message;
                for (const auto &[key, value] : info)
                    line += " " + key + "=" + formatValue(value);
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
                if (remaining > 0 && --remaining == 0)
                    QCoreApplication::quit();
            });
    center.runServerOnCurrentThread();
    if (!center.isServing()) {
        std::fprintf(stderr, "messagingutil: cannot serve %s\n", name);
        return 1;
    }
    const int status = runUntilQuit(app);
    center.stopServer();
    return status;
}

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "-s") != 0 && std::strcmp(argv[1], "-p") != 0 &&
        std::strcmp(argv[1], "-u") != 0)
        return usage(std::string("unknown option ") + argv[1]);
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options)
        return usage();
    const int next = options->next;
    if (options->mode == "-u")
        return unlock(app, next, argc, argv);

    auto center = CPDistributedMessagingCenter::centerNamed(argv[next]);
    if (options->bootstrap)
        rocketbootstrap_distributedmessagingcenter_apply(center.get());

    if (options->mode == "-p")
        return next + 1 >= argc ? usage() : post(*center, next + 1, argc, argv);
    if (options->mode != "-s" || next + 1 >= argc)
        return usage();
    return serve(app, *center, argv[next], options->remaining, next + 1, argc, argv);
}
