#include "BTstackCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace platform::btstack {
namespace {

struct CommandInfo {
    const hci_cmd_t *command;
    const char *name;
    // One name per format character, separated by spaces.
    const char *fieldNames;
};

const CommandInfo kCommands[] = {
    {&btstack_get_state, "btstack_get_state", ""},
    {&btstack_set_power_mode, "btstack_set_power_mode", "mode"},
    {&btstack_set_acl_capture_mode, "btstack_set_acl_capture_mode", "mode"},
    {&btstack_get_version, "btstack_get_version", ""},
    {&btstack_get_system_bluetooth_enabled, "btstack_get_system_bluetooth_enabled", ""},
    {&btstack_set_system_bluetooth_enabled, "btstack_set_system_bluetooth_enabled", "enabled"},
    {&btstack_set_discoverable, "btstack_set_discoverable", "discoverable"},
    {&btstack_set_bluetooth_enabled, "btstack_set_bluetooth_enabled", "enabled"},
    {&l2cap_create_channel, "l2cap_create_channel", "address psm"},
    {&l2cap_disconnect, "l2cap_disconnect", "cid reason"},
    {&l2cap_register_service, "l2cap_register_service", "psm mtu"},
    {&l2cap_unregister_service, "l2cap_unregister_service", "psm"},
    {&l2cap_accept_connection, "l2cap_accept_connection", "cid"},
    {&l2cap_decline_connection, "l2cap_decline_connection", "cid reason"},
    {&l2cap_create_channel_mtu, "l2cap_create_channel_mtu", "address psm mtu"},
    {&hci_inquiry, "hci_inquiry", "lap length responses"},
    {&hci_inquiry_cancel, "hci_inquiry_cancel", ""},
    {&hci_create_connection, "hci_create_connection",
     "address packet_type page_scan_repetition_mode reserved clock_offset allow_role_switch"},
    {&hci_disconnect, "hci_disconnect", "handle reason"},
    {&hci_link_key_request_reply, "hci_link_key_request_reply", "address link_key"},
    {&hci_link_key_request_negative_reply, "hci_link_key_request_negative_reply", "address"},
    {&hci_pin_code_request_reply, "hci_pin_code_request_reply", "address pin_length pin"},
    {&hci_pin_code_request_negative_reply, "hci_pin_code_request_negative_reply", "address"},
    {&hci_remote_name_request, "hci_remote_name_request",
     "address page_scan_repetition_mode reserved clock_offset"},
    {&hci_reset, "hci_reset", ""},
    {&hci_write_scan_enable, "hci_write_scan_enable", "scan_enable"},
    {&hci_write_authentication_enable, "hci_write_authentication_enable", "enable"},
    {&hci_write_inquiry_mode, "hci_write_inquiry_mode", "mode"},
    {&hci_read_bd_addr, "hci_read_bd_addr", ""},
};

const CommandInfo *infoFor(const hci_cmd_t *command) {
    for (const auto &info : kCommands)
        if (info.command == command)
            return &info;
    return nullptr;
}

std::size_t fieldSize(char format) {
    switch (format) {
    case '1':
        return 1;
    case '2':
    case 'H':
        return 2;
    case '3':
        return 3;
    case '4':
        return 4;
    case 'B':
        return 6;
    case 'P':
        return kPinFieldSize;
    case 'N':
        return kNameFieldSize;
    default:
        return 0;
    }
}

std::vector<std::string> splitNames(const char *names) {
    std::vector<std::string> result;
    std::string current;
    for (const char *p = names; *p; ++p) {
        if (*p == ' ') {
            result.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty())
        result.push_back(current);
    return result;
}

void appendLE(Bytes &bytes, std::uint32_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

} // namespace

Bytes encodeFrame(std::uint16_t type, std::uint16_t channel,
                  std::span<const std::uint8_t> payload) {
    Bytes frame;
    frame.reserve(kFrameHeaderSize + payload.size());
    appendLE16(frame, type);
    appendLE16(frame, channel);
    appendLE16(frame, static_cast<std::uint16_t>(payload.size()));
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

std::optional<Bytes> encodeCommand(const hci_cmd_t &command, va_list args) {
    Bytes bytes;
    appendLE16(bytes, command.opcode);
    bytes.push_back(0);
    std::uint32_t lastLength = 0;
    bool lengthBefore = false;
    for (const char *f = command.format ? command.format : ""; *f; ++f) {
        switch (*f) {
        case '1':
        case '2':
        case 'H': {
            auto value = static_cast<std::uint32_t>(va_arg(args, int));
            appendLE(bytes, value, fieldSize(*f));
            lastLength = value;
            lengthBefore = *f == '1';
            continue;
        }
        case '3':
        case '4':
            appendLE(bytes, va_arg(args, std::uint32_t), fieldSize(*f));
            break;
        case 'B': {
            const auto *address = va_arg(args, const std::uint8_t *);
            for (int i = 5; i >= 0; --i)
                bytes.push_back(address ? address[i] : 0);
            break;
        }
        case 'P': {
            const auto *pin = va_arg(args, const std::uint8_t *);
            std::size_t count =
                lengthBefore ? std::min<std::size_t>(lastLength, kPinFieldSize) : kPinFieldSize;
            if (pin == nullptr)
                count = 0;
            bytes.insert(bytes.end(), pin, pin + count);
            bytes.insert(bytes.end(), kPinFieldSize - count, 0);
            break;
        }
        case 'N': {
            const char *name = va_arg(args, const char *);
            std::size_t count = name ? ::strnlen(name, kNameFieldSize) : 0;
            bytes.insert(bytes.end(), name, name + count);
            bytes.insert(bytes.end(), kNameFieldSize - count, 0);
            break;
        }
        default:
            return std::nullopt;
        }
        lengthBefore = false;
    }
    if (bytes.size() - 3 > 255)
        return std::nullopt;
    bytes[2] = static_cast<std::uint8_t>(bytes.size() - 3);
    return bytes;
}

std::optional<Bytes> buildCommand(const hci_cmd_t *command, ...) {
    if (command == nullptr)
        return std::nullopt;
    va_list args;
    va_start(args, command);
    auto bytes = encodeCommand(*command, args);
    va_end(args);
    return bytes;
}

const hci_cmd_t *commandForOpcode(std::uint16_t opcode) {
    for (const auto &info : kCommands)
        if (info.command->opcode == opcode)
            return info.command;
    return nullptr;
}

const char *commandName(const hci_cmd_t *command) {
    const CommandInfo *info = infoFor(command);
    return info ? info->name : "unknown";
}

const CommandField *DecodedCommand::field(std::string_view fieldName) const {
    for (const auto &f : fields)
        if (f.name == fieldName)
            return &f;
    return nullptr;
}

std::uint32_t DecodedCommand::value(std::string_view fieldName) const {
    const CommandField *f = field(fieldName);
    return f ? f->value : 0;
}

std::optional<DecodedCommand> decodeCommand(std::span<const std::uint8_t> payload) {
    if (payload.size() < 3)
        return std::nullopt;
    DecodedCommand decoded;
    decoded.opcode = *readLE16(payload, 0);
    std::size_t length = payload[2];
    if (payload.size() < 3 + length)
        return std::nullopt;
    auto parameters = payload.subspan(3, length);
    decoded.parameters.assign(parameters.begin(), parameters.end());
    decoded.descriptor = commandForOpcode(decoded.opcode);
    if (decoded.descriptor == nullptr) {
        decoded.name = "unknown";
        return decoded;
    }
    const CommandInfo *info = infoFor(decoded.descriptor);
    decoded.name = info->name;
    auto names = splitNames(info->fieldNames);
    std::size_t offset = 0;
    std::size_t index = 0;
    for (const char *f = decoded.descriptor->format; *f; ++f, ++index) {
        std::size_t size = fieldSize(*f);
        if (offset + size > parameters.size())
            return std::nullopt;
        CommandField field;
        field.format = *f;
        field.name = index < names.size() ? names[index] : "field" + std::to_string(index);
        auto bytes = parameters.subspan(offset, size);
        if (*f == 'B') {
            field.bytes.assign(bytes.rbegin(), bytes.rend());
        } else if (*f == 'P' || *f == 'N') {
            field.bytes.assign(bytes.begin(), bytes.end());
        } else {
            for (std::size_t i = 0; i < size; ++i)
                field.value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
        }
        decoded.fields.push_back(std::move(field));
        offset += size;
    }
    if (offset != parameters.size())
        return std::nullopt;
    return decoded;
}

std::string describeCommand(const DecodedCommand &command) {
    std::string line = command.name;
    if (command.descriptor == nullptr) {
        char opcode[16];
        std::snprintf(opcode, sizeof opcode, " opcode=0x%04x", command.opcode);
        line += opcode;
        if (!command.parameters.empty())
            line += " parameters=" + hexBytes(command.parameters);
        return line;
    }
    for (const auto &field : command.fields) {
        line += ' ';
        line += field.name;
        line += '=';
        char number[16];
        switch (field.format) {
        case 'B': {
            Address address{};
            std::copy_n(field.bytes.begin(), 6, address.begin());
            line += formatAddress(address);
            break;
        }
        case 'P': {
            // A PIN prints as text when it is printable; a key as hex.
            auto end = std::find(field.bytes.begin(), field.bytes.end(), 0);
            bool printable = end != field.bytes.begin() &&
                             std::all_of(field.bytes.begin(), end,
                                         [](std::uint8_t c) { return c >= 0x21 && c < 0x7F; }) &&
                             std::all_of(end, field.bytes.end(), [](std::uint8_t c) { return !c; });
            line += printable ? std::string(field.bytes.begin(), end) : hexBytes(field.bytes);
            break;
        }
        case 'N':
            line += '"';
            line += std::string(field.bytes.begin(),
                                std::find(field.bytes.begin(), field.bytes.end(), 0));
            line += '"';
            break;
        case '1':
            std::snprintf(number, sizeof number, "%u", field.value);
            line += number;
            break;
        default:
            std::snprintf(number, sizeof number, "0x%0*x",
                          static_cast<int>(2 * fieldSize(field.format)), field.value);
            line += number;
            break;
        }
    }
    return line;
}

Bytes makeEvent(std::uint8_t code, std::span<const std::uint8_t> parameters) {
    Bytes event;
    event.reserve(2 + parameters.size());
    event.push_back(code);
    event.push_back(static_cast<std::uint8_t>(parameters.size()));
    event.insert(event.end(), parameters.begin(), parameters.end());
    return event;
}

void appendLE16(Bytes &bytes, std::uint16_t value) {
    appendLE(bytes, value, 2);
}
void appendLE24(Bytes &bytes, std::uint32_t value) {
    appendLE(bytes, value, 3);
}

void appendAddress(Bytes &bytes, const Address &address) {
    bytes.insert(bytes.end(), address.rbegin(), address.rend());
}

std::optional<std::uint16_t> readLE16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 2)
        return std::nullopt;
    return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

std::optional<std::uint32_t> readLE24(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 3)
        return std::nullopt;
    return static_cast<std::uint32_t>(bytes[offset] | bytes[offset + 1] << 8 |
                                      bytes[offset + 2] << 16);
}

std::optional<Address> readAddress(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (offset > bytes.size() || bytes.size() - offset < 6)
        return std::nullopt;
    Address address;
    for (std::size_t i = 0; i < 6; ++i)
        address[i] = bytes[offset + 5 - i];
    return address;
}

std::string formatAddress(const Address &address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}

std::optional<Address> parseAddress(std::string_view text) {
    if (text.size() != 17)
        return std::nullopt;
    Address address;
    for (std::size_t i = 0; i < 6; ++i) {
        if (i > 0 && text[3 * i - 1] != ':')
            return std::nullopt;
        unsigned value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            char c = text[3 * i + k];
            unsigned digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return std::nullopt;
            value = value * 16 + digit;
        }
        address[i] = static_cast<std::uint8_t>(value);
    }
    return address;
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (auto b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace platform::btstack

extern "C" void bt_flip_addr(bd_addr_t dest, const bd_addr_t src) {
    uint8_t copy[6];
    for (int i = 0; i < 6; ++i)
        copy[i] = src[5 - i];
    for (int i = 0; i < 6; ++i)
        dest[i] = copy[i];
}
