#pragma once

#include "BTstackServer.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMap>
#include <QString>
#include <QVariantMap>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace platform::btstack {

// A BTstack daemon whose radio is BlueZ (org.bluez on the system bus): the clients' commands
// become BlueZ's calls and what BlueZ reports becomes the events BTstack sends. Inquiries are
// discovery, a channel to a device not yet paired is a pairing through an agent of the bridge's
// own (BlueZ's PIN request goes to the client, its PIN reply back to BlueZ), then a connection;
// the HID channels themselves are BlueZ's, so a channel opens once the device is connected. The
// socket is served only while BlueZ has an adapter: without one a client cannot connect.
class BlueZBridge : public BTstackServer {
    Q_OBJECT
public:
    BlueZBridge(const QDBusConnection &bus, std::string socketPath, LogSink log,
                QObject *parent = nullptr);
    ~BlueZBridge() override;

    // Follows BlueZ from now on; the socket opens once an adapter is there. False (with `error`)
    // when the system bus cannot be reached.
    bool start(std::string &error);

private:
    struct Device {
        Address address{};
        QString adapter;
        std::uint32_t classOfDevice = 0;
        bool hasClass = false;
        std::int16_t rssi = 0;
        bool paired = false;
        bool connected = false;
    };
    struct Link {
        std::uint16_t handle = 0;
        QString path;
        Address address{};
        // Paired and trusted, waiting for BlueZ's connection (a pairing connects too, early).
        bool connecting = false;
        bool up = false;
        std::uint16_t nextRemoteCid = 0x0040;
        std::vector<PendingChannel> pending;
        std::vector<Channel> channels;
    };

    // BTstackServer
    bool daemonCommand(Client &client, const DecodedCommand &command) override;
    void controllerCommand(Client &client, const DecodedCommand &command) override;
    void clientDropped(int id) override;
    void powerOn() override;
    void finishPowerOn(const QString &adapter);
    void powerOff() override;

    // BlueZ's objects.
    void readObjects();
    void storeInterfaces(const QString &path, const QMap<QString, QVariantMap> &interfaces);
    void updateDevice(const QString &path, const QVariantMap &properties);
    void forgetDevice(const QString &path);
    void adaptersChanged();
    QString adapterPath() const;
    const Device *deviceAt(const QString &path) const;
    QString pathOf(const Address &address) const;

    // The controller's commands.
    void inquiry(const DecodedCommand &command);
    void inquiryCancel(const DecodedCommand &command);
    void disconnect(const DecodedCommand &command);
    void pinReply(const DecodedCommand &command);
    void stopInquiry();
    void reportDevice(const QString &path);

    // Channels, through a link: pair (when not paired), trust, connect, open.
    void openChannel(int client, const Address &address, std::uint16_t psm,
                     std::uint16_t mtu) override;
    bool closeChannel(int client, std::uint16_t cid) override;
    void pairLink(std::uint16_t handle);
    void connectLink(std::uint16_t handle);
    void linkUp(std::uint16_t handle);
    void openPending(Link &link);
    void failLink(std::uint16_t handle, std::uint8_t status, const std::string &why);
    void dropLink(std::uint16_t handle, std::uint8_t reason);
    Link *linkFor(const QString &path);
    Link *linkForHandle(std::uint16_t handle);
    void connectionCountChanged();

    // The agent: BlueZ asks for a PIN; the client's reply answers it.
    void registerAgent();
    void pinRequested(const QString &devicePath, const QDBusMessage &request);
    void answerPin(const QString &devicePath, const std::optional<std::string> &pin);

    void call(const QString &path, const QString &interface, const QString &method,
              const QVariantList &arguments, std::function<void(const QDBusMessage &)> then,
              int timeoutMs = -1);

private slots:
    void onInterfacesAdded(const QDBusMessage &message);
    void onInterfacesRemoved(const QDBusMessage &message);
    void onPropertiesChanged(const QDBusMessage &message);
    void onServiceRegistered();
    void onServiceUnregistered();

private:
    friend class BridgeAgent;

    QDBusConnection bus_;
    std::string socketPath_;
    std::map<QString, Device> devices_;   // by object path
    std::map<QString, Address> adapters_; // by object path: the adapter's own address
    std::map<QString, bool> powered_;
    unsigned generation_ = 0; // bumped when BlueZ leaves: replies from before are stale
    bool agentRegistered_ = false;
    std::map<QString, QDBusMessage> pinRequests_; // by device path, answered later

    std::uint8_t inquiryMode_ = 0;
    bool inquiring_ = false;
    unsigned inquiryGeneration_ = 0;
    std::set<QString> reported_; // devices reported in this inquiry

    std::map<std::uint16_t, Link> links_; // by handle
    std::uint16_t nextHandle_ = 0x000B;
};

} // namespace platform::btstack
