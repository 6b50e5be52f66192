#pragma once

// Where distributed messaging centers live on the session bus. A center's name may be any
// string, so it travels as an argument and is mapped onto a bus name of its own; a message is
// one call of a fixed member.

#include <QDBusConnection>
#include <optional>
#include <string>

namespace platform::messaging {

inline constexpr const char *kPath = "/platform/messaging";
inline constexpr const char *kInterface = "platform.messaging.Center";
inline constexpr const char *kMember = "Deliver";
inline constexpr const char *kClientConnection = "platform.messaging.client";

// The bus name a server of `center` owns; nothing when no valid bus name can carry it (empty or
// too long). Distinct centers always map to distinct names.
std::optional<std::string> centerBusName(const std::string &center);
// The bus name whose owner keeps `center` unlocked for bootstrap clients and servers.
std::optional<std::string> unlockBusName(const std::string &center);

// True when the process has a session bus to talk to; without one, messaging does nothing.
bool haveSessionBus();

// The connection clients send through. A process may serve and send to the same name: its
// sends go through a connection of their own so that the server's is never waiting on itself.
QDBusConnection clientConnection();

// Returns once the bus has routed every message this process has sent so far, for a short-lived
// sender that is about to exit.
void settleClientMessages();

} // namespace platform::messaging
