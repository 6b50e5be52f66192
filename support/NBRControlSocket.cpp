#include "NBRControlSocket.h"

#include "DevicePath.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

void putInt32(std::uint8_t *out, std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

std::int32_t getInt32(const std::uint8_t *in) {
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(in[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

void sendPrefix(int fd, const NBRControlMessage &message, std::size_t length) {
    const auto bytes = NBRControlEncode(message);
    std::size_t sent = 0;
    while (sent < length) {
        // MSG_NOSIGNAL: a daemon that has gone must not take the host process with it.
        ssize_t n = ::send(fd, bytes.data() + sent, length - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

NBRControlMessage command(std::int32_t code, std::int32_t controllerType = 0) {
    NBRControlMessage message;
    message.command = code;
    message.controllerType = controllerType;
    return message;
}

} // namespace

std::size_t NBRControlMessageLength(std::int32_t command) {
    switch (command) {
    case NBRControlCommandConnect:
    case NBRControlCommandRestart:
        return 20;
    case NBRControlCommandSetLightColor:
        return 16;
    default:
        return 12;
    }
}

std::array<std::uint8_t, NBRControlMessageSize> NBRControlEncode(const NBRControlMessage &message) {
    std::array<std::uint8_t, NBRControlMessageSize> bytes{};
    putInt32(&bytes[0], message.command);
    putInt32(&bytes[4], message.controllerType);
    bytes[8] = message.flag;
    std::memcpy(&bytes[9], message.reserved, 3);
    std::memcpy(&bytes[12], message.payload, 6);
    std::memcpy(&bytes[18], message.reserved2, 2);
    return bytes;
}

NBRControlMessage NBRControlDecode(std::span<const std::uint8_t> bytes) {
    std::array<std::uint8_t, NBRControlMessageSize> full{};
    // Not memcpy: an empty span may have no data pointer at all.
    std::copy_n(bytes.begin(), std::min(bytes.size(), full.size()), full.begin());
    NBRControlMessage message;
    message.command = getInt32(&full[0]);
    message.controllerType = getInt32(&full[4]);
    message.flag = full[8];
    std::memcpy(message.reserved, &full[9], 3);
    std::memcpy(message.payload, &full[12], 6);
    std::memcpy(message.reserved2, &full[18], 2);
    return message;
}

namespace {

// `wait` bounds how long a connect waits for a daemon whose queue of connections is full (zero:
// as long as it takes).
int connectUNIXSocket(const char *path, int length, std::chrono::milliseconds wait) {
    sockaddr_un address{};
    // Linux addresses carry no length byte; a length past the path field is refused instead of
    // writing beyond the record.
    if (path == nullptr || length <= 0 ||
        static_cast<std::size_t>(length) > sizeof address.sun_path)
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (wait.count() > 0) {
        // A local stream connect waits for room in the listener's queue for SO_SNDTIMEO.
        const timeval limit{static_cast<time_t>(wait.count() / 1000),
                            static_cast<suseconds_t>((wait.count() % 1000) * 1000)};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path, static_cast<std::size_t>(length));
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

extern "C" int NBRConnecToUNIXSocket(const char *path, int length) {
    return connectUNIXSocket(path, length, std::chrono::milliseconds(0));
}

extern "C" int NBRConnectToControlSocket(void) {
    const std::string path = platform::devicePath(NBRControlSocketPath);
    return NBRConnecToUNIXSocket(path.c_str(), static_cast<int>(path.size() + 1));
}

int NBRConnectToControlSocketWithin(std::chrono::milliseconds wait) {
    const std::string path = platform::devicePath(NBRControlSocketPath);
    return connectUNIXSocket(path.c_str(), static_cast<int>(path.size() + 1), wait);
}

bool NBRControlSetReceiveTimeout(int fd, std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof value) == 0;
}

void NBRControlSend(int fd, const NBRControlMessage &message) {
    sendPrefix(fd, message, NBRControlMessageLength(message.command));
}

std::optional<NBRControlMessage> NBRControlReceiveReply(int fd) {
    // The receive time-out is the whole reply's: a daemon that sends part of it and goes
    // quiet, or trickles it, must not restart the wait with every byte.
    timeval limit{};
    socklen_t size = sizeof limit;
    const bool bounded = ::getsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, &size) == 0 &&
                         (limit.tv_sec > 0 || limit.tv_usec > 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit.tv_sec) +
                          std::chrono::microseconds(limit.tv_usec);
    std::uint8_t bytes[NBRControlReplySize];
    std::size_t received = 0;
    while (received < sizeof bytes) {
        int flags = MSG_WAITALL;
        if (bounded) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return std::nullopt;
            pollfd ready{fd, POLLIN, 0};
            const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
            if (polled < 0 && errno == EINTR)
                continue;
            if (polled <= 0)
                return std::nullopt;
            flags = MSG_DONTWAIT;
        }
        ssize_t n = ::recv(fd, bytes + received, sizeof bytes - received, flags);
        if (n < 0 && (errno == EINTR || (bounded && (errno == EAGAIN || errno == EWOULDBLOCK))))
            continue;
        if (n <= 0)
            return std::nullopt; // time-out, error or end of stream
        received += static_cast<std::size_t>(n);
    }
    return NBRControlDecode(bytes);
}

std::optional<NBRControlMessage> NBRControlQueryStatus(int fd) {
    NBRControlSend(fd, command(NBRControlCommandQueryStatus));
    return NBRControlReceiveReply(fd);
}

bool NBRConnectedAfterStatusReply(const std::optional<NBRControlMessage> &reply,
                                  bool connectedBefore) {
    if (!reply)
        return false;
    return reply->controllerType == NBRControlReplyAcknowledge ? connectedBefore : true;
}

bool NBRControlConnect(int fd, std::int32_t controllerType, std::span<const std::uint8_t> address) {
    NBRControlMessage message = command(NBRControlCommandConnect, controllerType);
    if (controllerType != NBRControllerTypePS3 && address.size() == sizeof message.payload)
        std::memcpy(message.payload, address.data(), sizeof message.payload);
    NBRControlSend(fd, message);
    auto reply = NBRControlReceiveReply(fd);
    if (reply && reply->command == NBRControlReplyAcknowledge)
        return true;
    NBRControlSend(fd, command(NBRControlCommandRelease));
    return false;
}

void NBRControlDisconnect(int fd, std::int32_t controllerType) {
    NBRControlSend(fd, command(NBRControlCommandDisconnect, controllerType));
    NBRControlSend(fd, command(NBRControlCommandRelease, controllerType));
}

void NBRControlSetLightColor(int fd, std::uint32_t pixel) {
    NBRControlMessage message =
        command(NBRControlCommandSetLightColor, NBRControllerTypeDualShock4);
    message.payload[0] = static_cast<std::uint8_t>(pixel >> 16);
    message.payload[1] = static_cast<std::uint8_t>(pixel >> 8);
    message.payload[2] = static_cast<std::uint8_t>(pixel);
    NBRControlSend(fd, message);
}

void NBRControlRestart(int fd) {
    NBRControlSend(fd, command(NBRControlCommandRestart));
}
