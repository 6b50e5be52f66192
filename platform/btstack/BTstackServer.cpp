#include "BTstackServer.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform::btstack {
namespace {

constexpr std::uint8_t kSuccess = 0x00;
constexpr std::uint8_t kServiceAlreadyRegistered = 0x6A;
// The daemon's MTU for a channel created without one.
constexpr std::uint16_t kDefaultChannelMtu = 150;
constexpr std::uint16_t kMaxLocalMtu = 1017; // ACL buffer of 1021 less the L2CAP header

} // namespace

BTstackServer::BTstackServer(LogSink log, QObject *parent) : QObject(parent), log_(std::move(log)) {}

BTstackServer::~BTstackServer() {
    for (auto &[id, client] : clients_)
        ::close(client->fd);
    stopListening();
}

void BTstackServer::stopListening() {
    if (listenFd_ < 0)
        return;
    delete listenNotifier_;
    listenNotifier_ = nullptr;
    ::close(listenFd_);
    listenFd_ = -1;
    ::unlink(path_.c_str());
}

bool BTstackServer::listen(const std::string &path, std::string &error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + path;
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool taken = ::connect(probe, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    if (taken) {
        error = "another daemon already listens at " + path;
        return false;
    }
    ::unlink(path.c_str());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        error = "cannot listen at " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::chmod(path.c_str(), 0777);
    listenFd_ = fd;
    path_ = path;
    listenNotifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(listenNotifier_, &QSocketNotifier::activated, this, &BTstackServer::acceptClients);
    return true;
}

void BTstackServer::acceptClients() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        auto client = std::make_unique<Client>();
        client->id = nextClient_++;
        client->fd = fd;
        client->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        const int id = client->id;
        connect(client->notifier, &QSocketNotifier::activated, this,
                [this, id] { readClient(id); });
        clients_[id] = std::move(client);
        log("connected client=" + std::to_string(id));
    }
}

void BTstackServer::readClient(int id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    Client &client = *it->second;
    std::uint8_t buffer[4096];
    ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
        return;
    if (n <= 0) {
        dropClient(id);
        return;
    }
    client.reader.append(std::span(buffer, static_cast<std::size_t>(n)));
    while (auto frame = client.reader.next()) {
        handleFrame(client, *frame);
        if (clients_.find(id) == clients_.end())
            return;
    }
    if (client.reader.broken()) {
        log("refused client=" + std::to_string(id) + " payload longer than " +
            std::to_string(kMaxPayloadSize) + " bytes");
        dropClient(id);
    }
}

void BTstackServer::dropClient(int id) {
    auto it = clients_.find(id);
    if (it == clients_.end())
        return;
    delete it->second->notifier;
    ::close(it->second->fd);
    clients_.erase(it);
    log("disconnected client=" + std::to_string(id));
    std::erase_if(services_, [id](const auto &entry) { return entry.second == id; });
    clientDropped(id);
    updatePower();
}

void BTstackServer::handleFrame(Client &client, const Frame &frame) {
    const std::string who = "client=" + std::to_string(client.id);
    char text[64];
    switch (frame.type) {
    case HCI_COMMAND_DATA_PACKET: {
        auto command = decodeCommand(frame.payload);
        if (!command) {
            log("command " + who + " malformed " + hexBytes(frame.payload));
            return;
        }
        log("command " + who + " " + describeCommand(*command));
        if (command->handledByDaemon())
            keptCommand(client, *command);
        else if (state_ != HCI_STATE_WORKING)
            log("note controller not working, " + command->name + " dropped");
        else
            controllerCommand(client, *command);
        return;
    }
    case L2CAP_DATA_PACKET:
        std::snprintf(text, sizeof text, " cid=0x%04x length=%zu", frame.channel,
                      frame.payload.size());
        log("l2cap-data " + who + text);
        l2capData(client, frame);
        return;
    default:
        std::snprintf(text, sizeof text, " type=%u channel=0x%04x length=%zu", frame.type,
                      frame.channel, frame.payload.size());
        log("frame " + who + text);
        return;
    }
}

// The daemon commands whose answer is the daemon's own bookkeeping, whatever the radio.
void BTstackServer::keptCommand(Client &client, const DecodedCommand &command) {
    const hci_cmd_t *d = command.descriptor;
    if (d == &btstack_get_state) {
        sendEvent(client.id, 0, BTSTACK_EVENT_STATE, {state_});
    } else if (d == &btstack_set_power_mode) {
        client.wantsPower = command.value("mode") == HCI_POWER_ON;
        // Power-on always ends in a state event, also for a stack that already works.
        if (client.wantsPower && state_ == HCI_STATE_WORKING)
            setState(HCI_STATE_WORKING);
        updatePower();
    } else if (d == &btstack_get_version) {
        sendEvent(client.id, 0, BTSTACK_EVENT_VERSION, {0, 9, 0, 0});
    } else if (d == &btstack_set_discoverable) {
        broadcast(BTSTACK_EVENT_DISCOVERABLE_ENABLED,
                  {static_cast<std::uint8_t>(command.value("discoverable") != 0)});
    } else if (d == &l2cap_register_service) {
        auto psm = static_cast<std::uint16_t>(command.value("psm"));
        auto owner = services_.find(psm);
        std::uint8_t status = kSuccess;
        if (owner != services_.end() && owner->second != client.id)
            status = kServiceAlreadyRegistered;
        else
            services_[psm] = client.id;
        Bytes parameters{status};
        appendLE16(parameters, psm);
        sendEvent(client.id, 0, L2CAP_EVENT_SERVICE_REGISTERED, parameters);
    } else if (d == &l2cap_unregister_service) {
        auto owner = services_.find(static_cast<std::uint16_t>(command.value("psm")));
        if (owner != services_.end() && owner->second == client.id)
            services_.erase(owner);
    } else if (d == &l2cap_create_channel || d == &l2cap_create_channel_mtu) {
        auto mtu = d == &l2cap_create_channel ? kDefaultChannelMtu
                                              : static_cast<std::uint16_t>(command.value("mtu"));
        openChannel(client.id, addressField(command),
                    static_cast<std::uint16_t>(command.value("psm")), mtu);
    } else if (d == &l2cap_disconnect) {
        const auto cid = static_cast<std::uint16_t>(command.value("cid"));
        if (!closeChannel(client.id, cid)) {
            char text[48];
            std::snprintf(text, sizeof text, "note no channel 0x%04x to disconnect", cid);
            log(text);
        }
    } else if (!daemonCommand(client, command)) {
        log("note " + command.name + " is not served");
    }
}

Address BTstackServer::addressField(const DecodedCommand &command) {
    Address address{};
    std::copy_n(command.field("address")->bytes.begin(), 6, address.begin());
    return address;
}

void BTstackServer::updatePower() {
    bool wanted = std::any_of(clients_.begin(), clients_.end(),
                              [](const auto &entry) { return entry.second->wantsPower; });
    if (wanted && state_ == HCI_STATE_OFF)
        powerOn();
    else if (!wanted && state_ != HCI_STATE_OFF)
        powerOff();
}

void BTstackServer::setState(std::uint8_t state) {
    state_ = state;
    broadcast(BTSTACK_EVENT_STATE, {state});
}

void BTstackServer::commandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes &extra) {
    Bytes parameters{1};
    appendLE16(parameters, opcode);
    parameters.push_back(status);
    parameters.insert(parameters.end(), extra.begin(), extra.end());
    later(commandDelayMs_,
          [this, parameters] { broadcast(HCI_EVENT_COMMAND_COMPLETE, parameters); });
}

void BTstackServer::commandStatus(std::uint16_t opcode, std::uint8_t status) {
    Bytes parameters{status, 1};
    appendLE16(parameters, opcode);
    later(commandDelayMs_, [this, parameters] { broadcast(HCI_EVENT_COMMAND_STATUS, parameters); });
}

void BTstackServer::broadcast(std::uint8_t code, const Bytes &parameters) {
    std::vector<int> ids;
    for (const auto &[id, client] : clients_)
        ids.push_back(id);
    for (int id : ids)
        sendEvent(id, 0, code, parameters);
}

void BTstackServer::connectionComplete(std::uint8_t status, std::uint16_t handle,
                                       const Address &address) {
    Bytes parameters{status};
    appendLE16(parameters, handle);
    appendAddress(parameters, address);
    parameters.insert(parameters.end(), {1, 0}); // ACL, not encrypted
    broadcast(HCI_EVENT_CONNECTION_COMPLETE, parameters);
}

void BTstackServer::disconnectionComplete(std::uint16_t handle, std::uint8_t reason) {
    Bytes parameters{kSuccess};
    appendLE16(parameters, handle);
    parameters.push_back(reason);
    broadcast(HCI_EVENT_DISCONNECTION_COMPLETE, parameters);
}

void BTstackServer::connectionCount(std::uint8_t links) {
    broadcast(BTSTACK_EVENT_NR_CONNECTIONS_CHANGED, {links});
}

void BTstackServer::channelOpened(const Address &address, std::uint16_t handle,
                                  const Channel &channel, std::uint16_t remoteMtu) {
    Bytes parameters{kSuccess};
    appendAddress(parameters, address);
    appendLE16(parameters, handle);
    appendLE16(parameters, channel.psm);
    appendLE16(parameters, channel.localCid);
    appendLE16(parameters, channel.remoteCid);
    appendLE16(parameters, channel.mtu);
    appendLE16(parameters, remoteMtu);
    sendEvent(channel.client, channel.localCid, L2CAP_EVENT_CHANNEL_OPENED, parameters);
}

void BTstackServer::channelFailed(int client, const Address &address, std::uint16_t handle,
                                  std::uint16_t psm, std::uint8_t status) {
    if (client == 0)
        return;
    Bytes parameters{status};
    appendAddress(parameters, address);
    appendLE16(parameters, handle);
    appendLE16(parameters, psm);
    parameters.resize(parameters.size() + 8, 0);
    sendEvent(client, 0, L2CAP_EVENT_CHANNEL_OPENED, parameters);
}

BTstackServer::Channel BTstackServer::newChannel(const PendingChannel &request,
                                                 std::uint16_t &nextRemoteCid) {
    Channel channel;
    channel.localCid = nextLocalCid_++;
    channel.remoteCid = nextRemoteCid++;
    channel.psm = request.psm;
    channel.mtu = std::min(request.mtu, kMaxLocalMtu);
    channel.client = request.client;
    return channel;
}

void BTstackServer::channelClosed(const Channel &channel) {
    Bytes parameters;
    appendLE16(parameters, channel.localCid);
    sendEvent(channel.client, channel.localCid, L2CAP_EVENT_CHANNEL_CLOSED, parameters);
}

void BTstackServer::sendEvent(int client, std::uint16_t channel, std::uint8_t code,
                              const Bytes &parameters) {
    auto it = clients_.find(client);
    if (it == clients_.end())
        return;
    Bytes event = makeEvent(code, parameters);
    if (logEvents_) {
        char text[48];
        std::snprintf(text, sizeof text, "event client=%d channel=0x%04x ", client, channel);
        log(text + hexBytes(event));
    }
    sendFrame(*it->second, HCI_EVENT_PACKET, channel, event);
}

void BTstackServer::sendFrame(Client &client, std::uint16_t type, std::uint16_t channel,
                              const Bytes &payload) {
    // A client that cannot take its events is dropped when its socket reports the end, never
    // in the middle of a command's handling.
    Bytes frame = encodeFrame(type, channel, payload);
    std::size_t sent = 0;
    while (sent < frame.size()) {
        ssize_t n = ::send(client.fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd entry{client.fd, POLLOUT, 0};
            if (::poll(&entry, 1, 1000) > 0)
                continue;
        }
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}

void BTstackServer::later(int ms, std::function<void()> work) {
    if (ms <= 0)
        work();
    else
        QTimer::singleShot(ms, this, std::move(work));
}

void BTstackServer::log(const std::string &line) {
    if (log_)
        log_(line);
}

} // namespace platform::btstack
