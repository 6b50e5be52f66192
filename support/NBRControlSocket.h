#pragma once

// The control socket of the controller daemon: the message record, its byte layout, the
// connect routines and the client side of every operation.

#include "NBRConstants.h"
#include "NBRExport.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

enum NBRControlCommand : std::int32_t {
    NBRControlCommandDisconnect = 0,
    NBRControlCommandConnect = 1,
    NBRControlCommandRestart = 3,
    NBRControlCommandSetLightColor = 4,
    NBRControlCommandQueryStatus = 5,
    NBRControlCommandRelease = 6,
    NBRControlReplyAcknowledge = 7,
};

// One record serves every message in both directions; each is sent as a prefix of it.
struct NBRControlMessage {
    std::int32_t command = 0;
    std::int32_t controllerType = 0;
    std::uint8_t flag = 0;
    std::uint8_t reserved[3] = {};
    std::uint8_t payload[6] = {};
    std::uint8_t reserved2[2] = {};
};
static_assert(sizeof(NBRControlMessage) == 20);

inline constexpr std::size_t NBRControlMessageSize = 20;
inline constexpr std::size_t NBRControlReplySize = 12;

// How many bytes of the record a message with this command carries (12, 16 or 20); replies and
// unknown codes carry 12.
std::size_t NBRControlMessageLength(std::int32_t command);

// The record's bytes: integers little-endian, whatever the host's order.
std::array<std::uint8_t, NBRControlMessageSize> NBRControlEncode(const NBRControlMessage &message);
// Reads a record from up to 20 bytes; bytes not present read as 0.
NBRControlMessage NBRControlDecode(std::span<const std::uint8_t> bytes);

// Connects a stream socket to `path`, copying `length` bytes of it (its NUL included) into the
// address. -1 when the socket cannot be made, `length` does not fit the address, or the connect
// fails.
extern "C" NBR_EXPORT int NBRConnecToUNIXSocket(const char *path, int length);
// The same for the control socket under the device root.
extern "C" NBR_EXPORT int NBRConnectToControlSocket(void);
// The same, giving up after `wait` when the daemon's queue of connections stays full.
int NBRConnectToControlSocketWithin(std::chrono::milliseconds wait);

// Operations on a connection from NBRConnectToControlSocket; the caller closes it. Sends never
// raise SIGPIPE, and their results are not looked at.

// SO_RCVTIMEO for the replies to come, each reply's whole wait however its bytes arrive; false
// when it cannot be set (the operation then ends).
bool NBRControlSetReceiveTimeout(int fd, std::chrono::milliseconds timeout);

// Sends the status query and reads the reply: nothing when fewer than 12 bytes came back.
std::optional<NBRControlMessage> NBRControlQueryStatus(int fd);
// What a status reply means for a page that believed `connectedBefore`: a controller type
// other than 7 means connected, 7 leaves the belief as it was, no reply means not connected.
bool NBRConnectedAfterStatusReply(const std::optional<NBRControlMessage> &reply,
                                  bool connectedBefore);

// Asks the daemon to connect the controller (the 6-byte address goes along for types other
// than 0). True when it acknowledged; otherwise the release command has been sent.
bool NBRControlConnect(int fd, std::int32_t controllerType, std::span<const std::uint8_t> address);
// Disconnect followed by release, no reply read.
void NBRControlDisconnect(int fd, std::int32_t controllerType);
// The DualShock 4 light-bar colour, 0xRRGGBB.
void NBRControlSetLightColor(int fd, std::uint32_t pixel);
void NBRControlRestart(int fd);

// The pieces the operations are made of, shared with the daemon stand-in.
void NBRControlSend(int fd, const NBRControlMessage &message);
std::optional<NBRControlMessage> NBRControlReceiveReply(int fd);
