#include "BTstackClient.h"

#include "DevicePath.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::btstack {

BTstackClient &BTstackClient::shared() {
    static BTstackClient *client = new BTstackClient; // lives as long as the process
    return *client;
}

int BTstackClient::open() {
    if (fd_ >= 0)
        close();
    std::string path = platform::devicePath(BTSTACK_UNIX);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        ::close(fd);
        return -1;
    }
    fd_ = fd;
    ++generation_;
    reader_.clear();
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &BTstackClient::readable);
    return 0;
}

int BTstackClient::close() {
    if (fd_ < 0)
        return 0;
    delete notifier_;
    notifier_ = nullptr;
    ::close(fd_);
    fd_ = -1;
    ++generation_;
    reader_.clear();
    return 0;
}

bool BTstackClient::send(std::uint16_t type, std::uint16_t channel,
                         std::span<const std::uint8_t> payload) {
    if (fd_ < 0 || payload.size() > kMaxPayloadSize)
        return false;
    Bytes frame = encodeFrame(type, channel, payload);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

btstack_packet_handler_t BTstackClient::setHandler(btstack_packet_handler_t handler) {
    btstack_packet_handler_t previous = handler_;
    handler_ = handler;
    return previous;
}

void BTstackClient::readable() {
    std::uint8_t buffer[4096];
    ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        lost();
        return;
    }
    reader_.append(std::span(buffer, static_cast<std::size_t>(n)));
    const unsigned generation = generation_;
    while (auto frame = reader_.next()) {
        deliver(static_cast<std::uint8_t>(frame->type), frame->channel, frame->payload);
        if (generation != generation_)
            return;
    }
    if (reader_.broken())
        lost();
}

void BTstackClient::lost() {
    close();
    Bytes event{DAEMON_EVENT_CONNECTION_CLOSED};
    deliver(DAEMON_EVENT_PACKET, 0, event);
}

void BTstackClient::deliver(std::uint8_t type, std::uint16_t channel, Bytes &payload) {
    if (handler_ != nullptr)
        handler_(type, channel, payload.data(), static_cast<std::uint16_t>(payload.size()));
}

} // namespace platform::btstack
