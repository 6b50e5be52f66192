#pragma once

// Where Darwin notifications travel on the session bus: one signal, the name as its argument.
namespace platform::darwinbus {
inline constexpr const char *kPath = "/org/darwin/notify";
inline constexpr const char *kInterface = "org.darwin.notify";
inline constexpr const char *kMember = "Posted";
} // namespace platform::darwinbus
