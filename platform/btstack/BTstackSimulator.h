#pragma once

#include "BTstackServer.h"
#include "SimulatorScenario.h"

#include <map>

namespace platform::btstack {

// A BTstack daemon with a simulated Bluetooth controller and the scenario's devices in range,
// serving any number of clients on the daemon's socket; events are logged too when the scenario
// asks.
class BTstackSimulator : public BTstackServer {
    Q_OBJECT
public:
    BTstackSimulator(SimulatorScenario scenario, LogSink log, QObject *parent = nullptr);

private:
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

    bool daemonCommand(Client &client, const DecodedCommand &command) override;
    void controllerCommand(Client &client, const DecodedCommand &command) override;
    void l2capData(Client &client, const Frame &frame) override;
    void clientDropped(int id) override;
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

    void powerOn() override;
    void finishPowerOn();
    void powerOff() override;

    void startInquiry(std::uint8_t length, std::uint8_t responses);
    void sendInquiryResult(const VirtualDevice &device);
    void sendInquiryResults(const std::vector<const VirtualDevice *> &devices);
    void stopInquiry();

    void openChannel(int client, const Address &address, std::uint16_t psm,
                     std::uint16_t mtu) override;
    bool closeChannel(int client, std::uint16_t cid) override;
    void pageComplete(std::uint16_t handle);
    void continueLink(Link &link);
    void authenticationFinished(Link &link, std::uint8_t status);
    void completeChannel(Link &link, const PendingChannel &request);
    void dropLink(std::uint16_t handle, std::uint8_t reason);
    void securityReply(const Address &address, bool pinReply, const Bytes *secret);

    bool inRange(const VirtualDevice &device) const;
    const VirtualDevice *deviceFor(const Address &address, std::size_t *index = nullptr) const;
    Link *linkFor(const Address &address);
    Link *linkForHandle(std::uint16_t handle);

    SimulatorScenario scenario_;
    unsigned powerGeneration_ = 0;
    std::uint8_t inquiryMode_ = 0;
    std::uint8_t authenticationEnable_ = 0;
    bool inquiring_ = false;
    unsigned inquiryGeneration_ = 0;
    int inquiriesStarted_ = 0;
    int inquiryResponsesLeft_ = 0;
    std::map<std::uint16_t, Link> links_;   // handle -> link
    std::uint16_t nextHandle_ = 0x000B;
    std::map<Address, Bytes> linkKeys_;
};

} // namespace platform::btstack
