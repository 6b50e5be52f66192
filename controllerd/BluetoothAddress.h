#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using BluetoothAddress = std::array<std::uint8_t, 6>;

// "1c:66:6d:01:02:03" in either case; nothing for anything else.
std::optional<BluetoothAddress> parseBluetoothAddress(std::string_view text);
// Lower case with colons, as the kernel reports it and the daemon logs it.
std::string formatBluetoothAddress(const BluetoothAddress &address);
