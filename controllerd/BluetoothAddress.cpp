#include "BluetoothAddress.h"

#include <charconv>
#include <cstdio>

std::optional<BluetoothAddress> parseBluetoothAddress(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    BluetoothAddress address{};
    for (std::size_t i = 0; i < 6; ++i) {
        const char *pair = text.data() + i * 3;
        // from_chars takes no sign for base 16, so two characters are two digits or nothing.
        auto [end, error] = std::from_chars(pair, pair + 2, address[i], 16);
        if (error != std::errc() || end != pair + 2 || (i < 5 && pair[2] != ':'))
            return std::nullopt;
    }
    return address;
}

std::string formatBluetoothAddress(const BluetoothAddress &address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}
