#pragma once

#include "FrameReader.h"

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform::btstack {

// The daemon's side of BTstack's socket protocol, whatever radio is behind it: clients on the
// daemon's socket, their frames, the events they are sent, and what the daemon keeps itself
// (who wants power, its state, registered services). Every command received is logged as one
// line ("command client=N " + its decoded fields). What the controller's commands do, and the
// channels, are a subclass's.
class BTstackServer : public QObject {
    Q_OBJECT
public:
    using LogSink = std::function<void(const std::string &line)>;

    explicit BTstackServer(LogSink log, QObject *parent = nullptr);
    ~BTstackServer() override;

    // Binds the socket at `path`, refusing when another daemon already answers there.
    bool listen(const std::string &path, std::string &error);
    void setLogEvents(bool on) { logEvents_ = on; }
    // No more clients can connect (the socket file goes); those connected stay.
    void stopListening();
    bool listening() const { return listenFd_ >= 0; }

protected:
    struct Client {
        int id = 0;
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        FrameReader reader;
        bool wantsPower = false;
    };
    // An open L2CAP channel, and one a client asked for that waits for its link.
    struct Channel {
        std::uint16_t localCid = 0;
        std::uint16_t remoteCid = 0;
        std::uint16_t psm = 0;
        std::uint16_t mtu = 0;
        int client = 0;
    };
    struct PendingChannel {
        int client = 0;
        std::uint16_t psm = 0;
        std::uint16_t mtu = 0;
    };

    // A daemon command (group 0x3D) the server does not keep itself; false when not served.
    virtual bool daemonCommand(Client &client, const DecodedCommand &command) = 0;
    // Any other command, once the stack works: the controller's.
    virtual void controllerCommand(Client &client, const DecodedCommand &command) = 0;
    // A client's channel to `address`: opened (or failed) later, with its events.
    virtual void openChannel(int client, const Address &address, std::uint16_t psm,
                             std::uint16_t mtu) = 0;
    // The client's channel `cid` closed, with its event; false when it has none such.
    virtual bool closeChannel(int client, std::uint16_t cid) = 0;
    virtual void l2capData(Client &, const Frame &) {}
    // The client is gone; its services are already released.
    virtual void clientDropped(int) {}
    // Some client wants power and the state is off / no client wants it any more.
    virtual void powerOn() = 0;
    virtual void powerOff() = 0;

    std::uint8_t state() const { return state_; }
    void setState(std::uint8_t state);
    // The address a command carries (most significant byte first).
    static Address addressField(const DecodedCommand &command);

    // Closes one client's connection at once (it sees the socket end).
    void dropClient(int id);
    bool hasClient(int id) const { return clients_.count(id) != 0; }

    void commandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes &extra = {});
    void commandStatus(std::uint16_t opcode, std::uint8_t status);
    void broadcast(std::uint8_t code, const Bytes &parameters);
    // The events of links and channels, the same whatever the radio.
    void connectionComplete(std::uint8_t status, std::uint16_t handle, const Address &address);
    void disconnectionComplete(std::uint16_t handle, std::uint8_t reason);
    void connectionCount(std::uint8_t links);
    void channelOpened(const Address &address, std::uint16_t handle, const Channel &channel,
                       std::uint16_t remoteMtu);
    // To `client` (none for 0): the channel did not open; its ids mean nothing.
    void channelFailed(int client, const Address &address, std::uint16_t handle,
                       std::uint16_t psm, std::uint8_t status);
    void channelClosed(const Channel &channel);
    // The channel `request` gets on a link whose next remote id is `nextRemoteCid`.
    Channel newChannel(const PendingChannel &request, std::uint16_t &nextRemoteCid);
    // closeChannel for a subclass's links (each with its `channels`), by handle.
    template <class Links> bool closeChannelIn(Links &links, int client, std::uint16_t cid) {
        for (auto &[handle, link] : links)
            for (auto it = link.channels.begin(); it != link.channels.end(); ++it)
                if (it->localCid == cid && it->client == client) {
                    const Channel closed = *it;
                    link.channels.erase(it);
                    channelClosed(closed);
                    return true;
                }
        return false;
    }
    void sendEvent(int client, std::uint16_t channel, std::uint8_t code, const Bytes &parameters);
    // Runs `work` after `ms` (at once for 0), unless the server is gone by then.
    void later(int ms, std::function<void()> work);
    void log(const std::string &line);

    // Command completions and statuses go out this long after the command (a radio's pace).
    int commandDelayMs_ = 0;
    // Every event sent is logged too.
    bool logEvents_ = false;

private:
    void acceptClients();
    void readClient(int id);
    void handleFrame(Client &client, const Frame &frame);
    void keptCommand(Client &client, const DecodedCommand &command);
    void updatePower();
    void sendFrame(Client &client, std::uint16_t type, std::uint16_t channel, const Bytes &payload);

    LogSink log_;
    std::string path_;
    int listenFd_ = -1;
    QSocketNotifier *listenNotifier_ = nullptr;
    std::map<int, std::unique_ptr<Client>> clients_;
    int nextClient_ = 1;
    std::uint8_t state_ = 0; // off, initializing, working, halting
    std::map<std::uint16_t, int> services_; // PSM -> client
    std::uint16_t nextLocalCid_ = 0x0040;
};

} // namespace platform::btstack
