#include "BluetoothAddress.h"

#include <cstdio>

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<BluetoothAddress> parseBluetoothAddress(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    BluetoothAddress address{};
    for (std::size_t i = 0; i < 6; ++i) {
        int high = hexDigit(text[i * 3]);
        int low = hexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':'))
            return std::nullopt;
        address[i] = static_cast<std::uint8_t>(high * 16 + low);
    }
    return address;
}

std::string formatBluetoothAddress(const BluetoothAddress &address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}
