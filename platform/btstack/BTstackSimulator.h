#pragma once

#include "FrameReader.h"
#include "SimulatorScenario.h"

#include <QObject>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QSocketNotifier;

namespace platform::btstack {

// A BTstack daemon with a simulated Bluetooth controller and the scenario's devices in range,
// serving any number of clients on the daemon's socket. Every command received is logged as one
// line ("command client=N " + its decoded fields); events too when the scenario asks.
class BTstackSimulator : public QObject {
    Q_OBJECT
public:
    using LogSink = std::function<void(const std::string &line)>;

    BTstackSimulator(SimulatorScenario scenario, LogSink log, QObject *parent = nullptr);
    ~BTstackSimulator() override;

    // Binds the socket at `path`, refusing when another daemon already answers there.
    bool listen(const std::string &path, std::string &error);

private:
    struct Client {
        int id = 0;
        int fd = -1;
        QSocketNotifier *notifier = nullptr;
        FrameReader reader;
        bool wantsPower = false;
    };
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
    enum class Security { None, AwaitingLinkKey, AwaitingPin, Done };
    struct Link {
        std::uint16_t handle = 0;
        std::size_t device = 0;
        bool up = false; // the page finished
        Security security = Security::None;
        unsigned securityGeneration = 0;
        std::uint16_t nextRemoteCid = 0x0040;
        std::vector<PendingChannel> pending;
        std::vector<Channel> channels;
    };

    void acceptClients();
    void readClient(int id);
    void dropClient(int id);
    void handleFrame(Client &client, const Frame &frame);
    void daemonCommand(Client &client, const DecodedCommand &command);
    void controllerCommand(Client &client, const DecodedCommand &command);
    // One handler a kind of controller command, each answering it as the controller would.
    void acknowledge(const DecodedCommand &command);
    void writeInquiryMode(const DecodedCommand &command);
    void writeAuthenticationEnable(const DecodedCommand &command);
    void readLocalAddress(const DecodedCommand &command);
    void inquiryCommand(const DecodedCommand &command);
    void inquiryCancelCommand(const DecodedCommand &command);
    void disconnectCommand(const DecodedCommand &command);
    void createConnectionCommand(const DecodedCommand &command);
    void remoteNameRequest(const DecodedCommand &command);
    void securityReplyCommand(const DecodedCommand &command);

    void updatePower();
    void powerOn();
    void finishPowerOn();
    void powerOff();
    void setState(std::uint8_t state);

    void startInquiry(std::uint8_t length, std::uint8_t responses);
    void sendInquiryResult(const VirtualDevice &device);
    void sendInquiryResults(const std::vector<const VirtualDevice *> &devices);
    void stopInquiry();

    void openChannel(int client, const Address &address, std::uint16_t psm, std::uint16_t mtu);
    void pageComplete(std::uint16_t handle);
    void continueLink(Link &link);
    void authenticationFinished(Link &link, std::uint8_t status);
    void completeChannel(Link &link, const PendingChannel &request);
    void channelFailed(int client, const Address &address, std::uint16_t handle, std::uint16_t psm,
                       std::uint8_t status);
    void closeChannel(Link &link, std::size_t index);
    void dropLink(std::uint16_t handle, std::uint8_t reason);
    void securityReply(const Address &address, bool pinReply, const Bytes *secret);

    bool inRange(const VirtualDevice &device) const;
    const VirtualDevice *deviceFor(const Address &address, std::size_t *index = nullptr) const;
    Link *linkFor(const Address &address);
    Link *linkForHandle(std::uint16_t handle);

    void commandComplete(std::uint16_t opcode, std::uint8_t status, const Bytes &extra = {});
    void commandStatus(std::uint16_t opcode, std::uint8_t status);
    void broadcast(std::uint8_t code, const Bytes &parameters);
    void sendEvent(int client, std::uint16_t channel, std::uint8_t code, const Bytes &parameters);
    void sendFrame(Client &client, std::uint16_t type, std::uint16_t channel, const Bytes &payload);
    // Runs `work` after `ms` (at once for 0), unless the simulator is gone by then.
    void later(int ms, std::function<void()> work);
    void log(const std::string &line);

    SimulatorScenario scenario_;
    LogSink log_;
    std::string path_;
    int listenFd_ = -1;
    QSocketNotifier *listenNotifier_ = nullptr;
    std::map<int, std::unique_ptr<Client>> clients_;
    int nextClient_ = 1;

    std::uint8_t state_ = 0; // BTstack state: off, initializing, working, halting
    unsigned powerGeneration_ = 0;
    std::uint8_t inquiryMode_ = 0;
    std::uint8_t authenticationEnable_ = 0;
    bool inquiring_ = false;
    unsigned inquiryGeneration_ = 0;
    int inquiriesStarted_ = 0;
    int inquiryResponsesLeft_ = 0;
    std::map<std::uint16_t, int> services_; // PSM -> client
    std::map<std::uint16_t, Link> links_;   // handle -> link
    std::uint16_t nextHandle_ = 0x000B;
    std::uint16_t nextLocalCid_ = 0x0040;
    std::map<Address, Bytes> linkKeys_;
};

} // namespace platform::btstack
