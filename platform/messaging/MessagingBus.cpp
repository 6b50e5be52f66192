#include "MessagingBus.h"

#include <QDBusMessage>
#include <cstdlib>

namespace platform::messaging {
namespace {

constexpr std::size_t kMaximumBusNameLength = 255;

bool plain(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// Each element of the dotted name keeps its letters and digits; anything else, and a leading
// digit (not allowed to start an element), becomes _XX. An empty element becomes a lone '_',
// which no escape produces, so the mapping stays one-to-one.
std::string escapedElement(const std::string &element) {
    static const char hex[] = "0123456789ABCDEF";
    if (element.empty())
        return "_";
    std::string out;
    for (std::size_t i = 0; i < element.size(); ++i) {
        const char c = element[i];
        const bool leadingDigit = i == 0 && c >= '0' && c <= '9';
        if (plain(c) && !leadingDigit) {
            out += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            out += '_';
            out += hex[byte >> 4];
            out += hex[byte & 0xF];
        }
    }
    return out;
}

std::optional<std::string> busName(const char *prefix, const std::string &center) {
    if (center.empty())
        return std::nullopt;
    std::string name = prefix;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = center.find('.', start);
        name += '.';
        name += escapedElement(center.substr(start, dot - start));
        if (dot == std::string::npos)
            break;
        start = dot + 1;
    }
    if (name.size() > kMaximumBusNameLength)
        return std::nullopt;
    return name;
}

} // namespace

std::optional<std::string> centerBusName(const std::string &center) {
    return busName("platform.messaging.center", center);
}

std::optional<std::string> unlockBusName(const std::string &center) {
    return busName("platform.messaging.unlocked", center);
}

bool haveSessionBus() {
    // Without an address libdbus would try to autolaunch a bus; the device has no such thing.
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && *address != '\0';
}

QDBusConnection clientConnection() {
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, kClientConnection);
}

void settleClientMessages() {
    if (!haveSessionBus())
        return;
    // The bus handles a connection's messages in order, so its answer comes after the rest.
    clientConnection().call(QDBusMessage::createMethodCall("org.freedesktop.DBus",
                                                           "/org/freedesktop/DBus",
                                                           "org.freedesktop.DBus", "GetId"),
                            QDBus::Block, 5000);
}

} // namespace platform::messaging
