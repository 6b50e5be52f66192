#pragma once

// The daemon's wire format, shared by the client library and the daemon simulator: frames
// (6-byte header: type, channel, payload length, each 2 bytes little-endian), commands encoded
// from their descriptors' formats, and the little-endian pieces events are made of.

#include "btstack.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::btstack {

using Bytes = std::vector<std::uint8_t>;
using Address = std::array<std::uint8_t, 6>; // most significant byte first

inline constexpr std::size_t kFrameHeaderSize = 6;
// The daemon's receive buffer; anything longer is refused rather than trusted.
inline constexpr std::size_t kMaxPayloadSize = 1025;
inline constexpr std::size_t kPinFieldSize = 16;
inline constexpr std::size_t kNameFieldSize = 248;
inline constexpr std::uint16_t kDaemonCommandGroup = 0x3D;

struct Frame {
    std::uint16_t type = 0;
    std::uint16_t channel = 0;
    Bytes payload;
};

Bytes encodeFrame(std::uint16_t type, std::uint16_t channel, std::span<const std::uint8_t> payload);

// Opcode, parameter length and parameters, taken from `args` as `command.format` says. A PIN
// after a length field copies only that many bytes and pads with zeros, so a short PIN string
// is never read past its end. Nothing when the parameters would not fit in one command.
std::optional<Bytes> encodeCommand(const hci_cmd_t &command, va_list args);
std::optional<Bytes> buildCommand(const hci_cmd_t *command, ...);

struct CommandField {
    char format = 0;
    std::string name;
    std::uint32_t value = 0; // integers and handles
    Bytes bytes;             // addresses (most significant first), PINs, keys, names
};

struct DecodedCommand {
    std::uint16_t opcode = 0;
    std::string name; // "unknown" for an opcode without a descriptor
    const hci_cmd_t *descriptor = nullptr;
    std::vector<CommandField> fields;
    Bytes parameters; // as received

    bool handledByDaemon() const { return (opcode >> 10) == kDaemonCommandGroup; }
    const CommandField *field(std::string_view fieldName) const;
    std::uint32_t value(std::string_view fieldName) const; // 0 when absent
};

// Nothing for a payload shorter than its header or its declared parameter length, or whose
// parameters do not match the descriptor's format.
std::optional<DecodedCommand> decodeCommand(std::span<const std::uint8_t> payload);
// One line: the command's name and every field, e.g.
// "hci_inquiry lap=0x9e8b33 length=1 responses=0".
std::string describeCommand(const DecodedCommand &command);

const hci_cmd_t *commandForOpcode(std::uint16_t opcode);
const char *commandName(const hci_cmd_t *command);

// An HCI or BTstack event: code, parameter length, parameters.
Bytes makeEvent(std::uint8_t code, std::span<const std::uint8_t> parameters);

void appendLE16(Bytes &bytes, std::uint16_t value);
void appendLE24(Bytes &bytes, std::uint32_t value);
// Appends an address in the wire's order (least significant byte first).
void appendAddress(Bytes &bytes, const Address &address);

// Bounded reads: nothing when the field runs past the end.
std::optional<std::uint16_t> readLE16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::optional<std::uint32_t> readLE24(std::span<const std::uint8_t> bytes, std::size_t offset);
std::optional<Address> readAddress(std::span<const std::uint8_t> bytes, std::size_t offset);

std::string formatAddress(const Address &address); // "00:11:22:33:44:55"
std::optional<Address> parseAddress(std::string_view text);
std::string hexBytes(std::span<const std::uint8_t> bytes);

} // namespace platform::btstack
