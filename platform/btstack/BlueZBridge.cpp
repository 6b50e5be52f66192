#include "BlueZBridge.h"

#include "BlueZAgent.h"
#include "BlueZBus.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <algorithm>
#include <cstdio>

namespace platform::btstack {
namespace {

using namespace platform::bluez;

const QString kAgentManager = QStringLiteral("org.bluez.AgentManager1");
const QString kAgentPath = QStringLiteral("/org/nimbrel/btstackd/agent");

// HCI and L2CAP statuses the bridge answers with.
constexpr std::uint8_t kSuccess = 0x00;
constexpr std::uint8_t kUnknownCommand = 0x01;
constexpr std::uint8_t kUnknownConnection = 0x02;
constexpr std::uint8_t kPageTimeout = 0x04;
constexpr std::uint8_t kAuthenticationFailure = 0x05;
constexpr std::uint8_t kCommandDisallowed = 0x0C;
constexpr std::uint8_t kInvalidParameters = 0x12;
constexpr std::uint8_t kLocalHostTerminated = 0x16;

constexpr std::uint16_t kRemoteMtu = 672;
// Pairing waits for a person (a PIN, the controller's buttons): longer than D-Bus's 25 s.
constexpr int kPairTimeoutMs = 90000;
constexpr int kConnectTimeoutMs = 30000;
constexpr int kInquiryUnitMs = 1280;

std::optional<Address> addressFrom(const QString &text) {
    return parseAddress(text.toStdString());
}

bool isError(const QDBusMessage &reply) {
    return reply.type() == QDBusMessage::ErrorMessage;
}

std::string described(const QDBusMessage &reply) {
    return describe(reply).toStdString();
}

// BlueZ's refusals of a pairing are the link's authentication failing; anything else is the
// device not answering.
std::uint8_t statusFor(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    if (name.startsWith(QLatin1String("org.bluez.Error.Authentication")))
        return kAuthenticationFailure;
    return kPageTimeout;
}


} // namespace

BlueZBridge::BlueZBridge(const QDBusConnection &bus, std::string socketPath, LogSink log,
                         QObject *parent)
    : BTstackServer(std::move(log), parent), bus_(bus), socketPath_(std::move(socketPath)) {}

BlueZBridge::~BlueZBridge() = default;

bool BlueZBridge::start(std::string &error) {
    if (!bus_.isConnected()) {
        error = "no system bus: " + bus_.lastError().message().toStdString();
        return false;
    }
    follow(bus_, this);
    auto *agent = new BlueZAgent(
        bus_, [this](const QString &device, const QDBusMessage &request) {
            pinRequested(device, request);
        },
        [this](const QString &device) { return linkFor(device) != nullptr; }, this);
    bus_.registerObject(kAgentPath, agent, QDBusConnection::ExportAllSlots);
    if (bus_.interface()->isServiceRegistered(kService).value())
        readObjects();
    else
        log("note no Bluetooth service (org.bluez) on the system bus: clients cannot connect "
            "until it starts");
    return true;
}

void BlueZBridge::call(const QString &path, const QString &interface, const QString &method,
                       const QVariantList &arguments,
                       std::function<void(const QDBusMessage &)> then, int timeoutMs) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, path, interface, method);
    message.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, timeoutMs), this);
    const unsigned generation = generation_;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, generation, then = std::move(then)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                // BlueZ left since: whoever waited was told then.
                if (generation == generation_ && then)
                    then(finished->reply());
            });
}

// BlueZ's objects ---------------------------------------------------------------------------

void BlueZBridge::readObjects() {
    call(QStringLiteral("/"), kObjectManager, QStringLiteral("GetManagedObjects"), {},
         [this](const QDBusMessage &reply) {
             if (isError(reply) || reply.arguments().isEmpty()) {
                 log("note cannot read BlueZ's objects: " + described(reply));
                 return;
             }
             const ManagedObjects objects = managedObjects(reply);
             for (auto it = objects.cbegin(); it != objects.cend(); ++it)
                 storeInterfaces(it.key().path(), it.value());
             adaptersChanged();
         });
}

void BlueZBridge::storeInterfaces(const QString &path, const InterfaceMap &interfaces) {
    if (interfaces.contains(kAdapter)) {
        const QVariantMap adapter = interfaces.value(kAdapter);
        adapters_[path] = addressFrom(adapter.value(QStringLiteral("Address")).toString())
                              .value_or(Address{});
        powered_[path] = adapter.value(QStringLiteral("Powered")).toBool();
    }
    if (interfaces.contains(kDevice))
        updateDevice(path, interfaces.value(kDevice));
}

void BlueZBridge::updateDevice(const QString &path, const QVariantMap &properties) {
    const bool known = devices_.count(path) != 0;
    Device &device = devices_[path];
    if (!known)
        device.adapter = path.section(u'/', 0, -2);
    if (properties.contains(QStringLiteral("Address")))
        device.address = addressFrom(properties.value(QStringLiteral("Address")).toString())
                             .value_or(Address{});
    if (properties.contains(QStringLiteral("Class"))) {
        device.classOfDevice = properties.value(QStringLiteral("Class")).toUInt() & 0xFFFFFF;
        device.hasClass = true;
    }
    if (properties.contains(QStringLiteral("RSSI")))
        device.rssi = static_cast<std::int16_t>(properties.value(QStringLiteral("RSSI")).toInt());
    if (properties.contains(QStringLiteral("Paired")))
        device.paired = properties.value(QStringLiteral("Paired")).toBool();
    const bool wasConnected = device.connected;
    if (properties.contains(QStringLiteral("Connected")))
        device.connected = properties.value(QStringLiteral("Connected")).toBool();

    // Heard while an inquiry runs: a new device, or one answering again with its signal.
    if (inquiring_ && (!known || properties.contains(QStringLiteral("RSSI")) ||
                       properties.contains(QStringLiteral("Class"))))
        reportDevice(path);
    if (Link *link = linkFor(path)) {
        if (device.connected && link->connecting && !link->up)
            linkUp(link->handle);
        else if (!device.connected && wasConnected && link->up)
            dropLink(link->handle, 0x13);
    }
}

void BlueZBridge::forgetDevice(const QString &path) {
    if (Link *link = linkFor(path))
        failLink(link->handle, kPageTimeout, "the device is gone from BlueZ");
    devices_.erase(path);
}

void BlueZBridge::onInterfacesAdded(const QDBusMessage &message) {
    QString path;
    InterfaceMap interfaces;
    if (!interfacesAdded(message, path, interfaces))
        return;
    storeInterfaces(path, interfaces);
    if (interfaces.contains(kAdapter))
        adaptersChanged();
}

void BlueZBridge::onInterfacesRemoved(const QDBusMessage &message) {
    QString path;
    QStringList interfaces;
    if (!interfacesRemoved(message, path, interfaces))
        return;
    if (interfaces.contains(kDevice))
        forgetDevice(path);
    if (interfaces.contains(kAdapter)) {
        adapters_.erase(path);
        powered_.erase(path);
        adaptersChanged();
    }
}

void BlueZBridge::onPropertiesChanged(const QDBusMessage &message) {
    QString interface;
    QVariantMap changed;
    if (!propertiesChanged(message, interface, changed))
        return;
    const QString path = message.path();
    if (interface == kAdapter && adapters_.count(path) &&
        changed.contains(QStringLiteral("Powered")))
        powered_[path] = changed.value(QStringLiteral("Powered")).toBool();
    if (interface == kDevice && devices_.count(path))
        updateDevice(path, changed);
}

void BlueZBridge::onServiceRegistered() {
    log("note BlueZ is on the system bus");
    readObjects();
}

void BlueZBridge::onServiceUnregistered() {
    log("note BlueZ left the system bus");
    ++generation_;
    agentRegistered_ = false;
    for (auto &[path, request] : pinRequests_)
        bus_.send(request.createErrorReply(QStringLiteral("org.bluez.Error.Canceled"),
                                           QStringLiteral("BlueZ left")));
    pinRequests_.clear();
    while (!links_.empty())
        failLink(links_.begin()->first, kPageTimeout, "BlueZ left the system bus");
    if (inquiring_) {
        stopInquiry();
        broadcast(HCI_EVENT_INQUIRY_COMPLETE, {kSuccess});
    }
    devices_.clear();
    adapters_.clear();
    powered_.clear();
    adaptersChanged();
}

// The socket is served while there is an adapter to serve it with.
void BlueZBridge::adaptersChanged() {
    if (adapters_.empty()) {
        if (listening()) {
            stopListening();
            log("note no Bluetooth adapter: not listening until one appears");
        }
        if (state() != HCI_STATE_OFF)
            setState(HCI_STATE_OFF);
        return;
    }
    if (listening())
        return;
    std::string error;
    if (listen(socketPath_, error))
        log("listening " + socketPath_ + " adapter " + adapterPath().toStdString() + " " +
            formatAddress(adapters_.at(adapterPath())));
    else
        log("note " + error);
}

QString BlueZBridge::adapterPath() const {
    if (adapters_.count(QStringLiteral("/org/bluez/hci0")))
        return QStringLiteral("/org/bluez/hci0");
    return adapters_.empty() ? QString() : adapters_.begin()->first;
}

const BlueZBridge::Device *BlueZBridge::deviceAt(const QString &path) const {
    auto it = devices_.find(path);
    return it == devices_.end() ? nullptr : &it->second;
}

QString BlueZBridge::pathOf(const Address &address) const {
    const QString adapter = adapterPath();
    QString found;
    for (const auto &[path, device] : devices_)
        if (device.address == address && (found.isEmpty() || device.adapter == adapter))
            found = path;
    return found;
}

// Power --------------------------------------------------------------------------------------

void BlueZBridge::powerOn() {
    const QString adapter = adapterPath();
    if (adapter.isEmpty()) {
        log("note power-on fails: no Bluetooth adapter");
        broadcast(BTSTACK_EVENT_POWERON_FAILED, {});
        return;
    }
    setState(HCI_STATE_INITIALIZING);
    // Usually the desktop has powered it already: the client's first commands then find the
    // stack working instead of being dropped while BlueZ answers.
    if (powered_[adapter]) {
        finishPowerOn(adapter);
        return;
    }
    call(adapter, kProperties, QStringLiteral("Set"),
         {kAdapter, QStringLiteral("Powered"), QVariant::fromValue(QDBusVariant(true))},
         [this, adapter](const QDBusMessage &reply) {
             if (state() != HCI_STATE_INITIALIZING)
                 return;
             if (isError(reply)) {
                 log("note power-on fails: BlueZ would not power " + adapter.toStdString() +
                     ": " + described(reply));
                 setState(HCI_STATE_OFF);
                 broadcast(BTSTACK_EVENT_POWERON_FAILED, {});
                 return;
             }
             finishPowerOn(adapter);
         });
}

void BlueZBridge::finishPowerOn(const QString &adapter) {
    inquiryMode_ = 0;
    Bytes address;
    appendAddress(address, adapters_.count(adapter) ? adapters_.at(adapter) : Address{});
    commandComplete(hci_reset.opcode, kSuccess);
    commandComplete(hci_read_bd_addr.opcode, kSuccess, address);
    commandComplete(hci_write_scan_enable.opcode, kSuccess);
    setState(HCI_STATE_WORKING);
}

// The adapter stays powered: other programs use it.
void BlueZBridge::powerOff() {
    setState(HCI_STATE_HALTING);
    if (inquiring_) {
        stopInquiry();
        call(adapterPath(), kAdapter, QStringLiteral("StopDiscovery"), {}, {});
    }
    while (!links_.empty())
        dropLink(links_.begin()->first, kLocalHostTerminated);
    setState(HCI_STATE_OFF);
}

// Commands -----------------------------------------------------------------------------------

bool BlueZBridge::daemonCommand(Client &client, const DecodedCommand &command) {
    const hci_cmd_t *d = command.descriptor;
    if (d == &btstack_get_system_bluetooth_enabled ||
        d == &btstack_set_system_bluetooth_enabled) {
        // BlueZ is the system's Bluetooth and the bridge shares it: it never stands in the way.
        sendEvent(client.id, 0, BTSTACK_EVENT_SYSTEM_BLUETOOTH_ENABLED, {0});
    } else {
        return false;
    }
    return true;
}

void BlueZBridge::controllerCommand(Client &, const DecodedCommand &command) {
    const hci_cmd_t *d = command.descriptor;
    if (d == &hci_reset || d == &hci_write_scan_enable) {
        commandComplete(command.opcode, kSuccess);
    } else if (d == &hci_write_inquiry_mode) {
        const std::uint32_t mode = command.value("mode");
        if (mode <= 2)
            inquiryMode_ = static_cast<std::uint8_t>(mode);
        commandComplete(command.opcode, mode <= 2 ? kSuccess : kInvalidParameters);
    } else if (d == &hci_write_authentication_enable) {
        // BlueZ decides the link's security; the setting is taken and kept by nobody.
        commandComplete(command.opcode, kSuccess);
    } else if (d == &hci_read_bd_addr) {
        Bytes address;
        appendAddress(address, adapters_.count(adapterPath()) ? adapters_.at(adapterPath())
                                                              : Address{});
        commandComplete(command.opcode, kSuccess, address);
    } else if (d == &hci_inquiry) {
        inquiry(command);
    } else if (d == &hci_inquiry_cancel) {
        inquiryCancel(command);
    } else if (d == &hci_disconnect) {
        disconnect(command);
    } else if (d == &hci_pin_code_request_reply || d == &hci_pin_code_request_negative_reply) {
        pinReply(command);
    } else if (d == &hci_link_key_request_reply || d == &hci_link_key_request_negative_reply) {
        // BlueZ keeps the link keys: a client's answer changes nothing.
        Bytes extra;
        appendAddress(extra, addressField(command));
        commandComplete(command.opcode, kSuccess, extra);
    } else {
        log("note " + command.name + " is not served by BlueZ");
        commandComplete(command.opcode, kUnknownCommand);
    }
}

void BlueZBridge::inquiry(const DecodedCommand &command) {
    if (inquiring_) {
        commandStatus(command.opcode, kCommandDisallowed);
        return;
    }
    commandStatus(command.opcode, kSuccess);
    inquiring_ = true;
    reported_.clear();
    const unsigned generation = ++inquiryGeneration_;
    const QString adapter = adapterPath();
    QVariantMap filter;
    filter.insert(QStringLiteral("Transport"), QStringLiteral("bredr"));
    call(adapter, kAdapter, QStringLiteral("SetDiscoveryFilter"), {filter},
         [this, adapter, generation](const QDBusMessage &) {
             if (generation != inquiryGeneration_)
                 return;
             call(adapter, kAdapter, QStringLiteral("StartDiscovery"), {},
                  [this, generation](const QDBusMessage &reply) {
                      // Another program's discovery serves as well as ours.
                      if (!isError(reply) ||
                          reply.errorName() == QLatin1String("org.bluez.Error.InProgress") ||
                          generation != inquiryGeneration_)
                          return;
                      log("note BlueZ would not discover: " + described(reply));
                      stopInquiry();
                      broadcast(HCI_EVENT_INQUIRY_COMPLETE, {kCommandDisallowed});
                  });
         });
    const int length = std::max<int>(1, static_cast<int>(command.value("length")));
    later(length * kInquiryUnitMs, [this, adapter, generation] {
        if (generation != inquiryGeneration_ || !inquiring_)
            return;
        stopInquiry();
        call(adapter, kAdapter, QStringLiteral("StopDiscovery"), {}, {});
        broadcast(HCI_EVENT_INQUIRY_COMPLETE, {kSuccess});
    });
}

void BlueZBridge::inquiryCancel(const DecodedCommand &command) {
    const bool was = inquiring_;
    if (was) {
        stopInquiry();
        call(adapterPath(), kAdapter, QStringLiteral("StopDiscovery"), {}, {});
    }
    commandComplete(command.opcode, was ? kSuccess : kCommandDisallowed);
}

void BlueZBridge::stopInquiry() {
    inquiring_ = false;
    ++inquiryGeneration_;
}

// One device heard: an inquiry result in the form the client asked for.
void BlueZBridge::reportDevice(const QString &path) {
    const Device *device = deviceAt(path);
    // Without a class yet (BlueZ may send it a moment later) there is nothing to report.
    if (!device || !device->hasClass || device->classOfDevice == 0 ||
        device->adapter != adapterPath() || !reported_.insert(path).second)
        return;
    Bytes parameters{1};
    appendAddress(parameters, device->address);
    parameters.push_back(1); // page-scan repetition mode R1
    if (inquiryMode_ == 0)
        parameters.insert(parameters.end(), {0, 0});
    else
        parameters.push_back(0);
    appendLE24(parameters, device->classOfDevice);
    appendLE16(parameters, 0); // clock offset: BlueZ does not say
    if (inquiryMode_ == 0) {
        broadcast(HCI_EVENT_INQUIRY_RESULT, parameters);
        return;
    }
    parameters.push_back(static_cast<std::uint8_t>(static_cast<std::int8_t>(
        std::clamp<int>(device->rssi, -127, 20))));
    broadcast(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, parameters);
}

void BlueZBridge::disconnect(const DecodedCommand &command) {
    const auto handle = static_cast<std::uint16_t>(command.value("handle"));
    Link *link = linkForHandle(handle);
    if (link == nullptr) {
        commandStatus(command.opcode, kUnknownConnection);
        return;
    }
    commandStatus(command.opcode, kSuccess);
    const QString path = link->path;
    call(path, kDevice, QStringLiteral("Disconnect"), {}, [this, path](const QDBusMessage &reply) {
        if (isError(reply))
            log("note BlueZ would not disconnect " + path.toStdString() + ": " + described(reply));
    });
    dropLink(handle, kLocalHostTerminated);
}

void BlueZBridge::pinReply(const DecodedCommand &command) {
    const Address address = addressField(command);
    Bytes extra;
    appendAddress(extra, address);
    commandComplete(command.opcode, kSuccess, extra);
    std::optional<std::string> pin;
    if (command.descriptor == &hci_pin_code_request_reply) {
        const Bytes &bytes = command.field("pin")->bytes;
        const std::size_t length = std::min<std::size_t>(command.value("pin_length"), bytes.size());
        pin = std::string(bytes.begin(), bytes.begin() + static_cast<long>(length));
    }
    answerPin(pathOf(address), pin);
}

// Channels -----------------------------------------------------------------------------------

void BlueZBridge::openChannel(int client, const Address &address, std::uint16_t psm,
                              std::uint16_t mtu) {
    const QString path = pathOf(address);
    if (Link *link = linkFor(path); link && !path.isEmpty()) {
        link->pending.push_back({client, psm, mtu});
        if (link->up)
            openPending(*link);
        return;
    }
    commandStatus(hci_create_connection.opcode, kSuccess);
    if (path.isEmpty()) {
        log("note " + formatAddress(address) + " is not known to BlueZ: search for it first");
        channelFailed(client, address, 0, psm, kPageTimeout);
        return;
    }
    Link link;
    link.handle = nextHandle_++;
    link.path = path;
    link.address = address;
    link.pending.push_back({client, psm, mtu});
    const std::uint16_t handle = link.handle;
    links_[handle] = std::move(link);
    const Device *device = deviceAt(path);
    if (device->connected && device->paired)
        linkUp(handle);
    else if (device->paired)
        connectLink(handle);
    else
        pairLink(handle);
}

void BlueZBridge::pairLink(std::uint16_t handle) {
    registerAgent();
    const QString path = links_.at(handle).path;
    log("pairing " + path.toStdString());
    call(path, kDevice, QStringLiteral("Pair"), {},
         [this, handle](const QDBusMessage &reply) {
             if (!linkForHandle(handle))
                 return;
             if (isError(reply) &&
                 reply.errorName() != QLatin1String("org.bluez.Error.AlreadyExists")) {
                 failLink(handle, statusFor(reply), "BlueZ would not pair: " + described(reply));
                 return;
             }
             connectLink(handle);
         },
         kPairTimeoutMs);
}

// Trusted lets the controller come back by itself later; then BlueZ's input plugin opens the
// HID channels on Connect.
void BlueZBridge::connectLink(std::uint16_t handle) {
    const QString path = links_.at(handle).path;
    links_.at(handle).connecting = true;
    call(path, kProperties, QStringLiteral("Set"),
         {kDevice, QStringLiteral("Trusted"), QVariant::fromValue(QDBusVariant(true))},
         [this, handle, path](const QDBusMessage &trusted) {
             if (!linkForHandle(handle))
                 return;
             if (isError(trusted)) {
                 failLink(handle, kPageTimeout, "BlueZ would not trust it: " + described(trusted));
                 return;
             }
             call(path, kDevice, QStringLiteral("Connect"), {},
                  [this, handle, path](const QDBusMessage &reply) {
                      Link *link = linkForHandle(handle);
                      if (!link || link->up)
                          return;
                      if (isError(reply) && reply.errorName() !=
                                                QLatin1String("org.bluez.Error.AlreadyConnected")) {
                          failLink(handle, statusFor(reply),
                                   "BlueZ would not connect: " + described(reply));
                          return;
                      }
                      // Connect's reply alone proves nothing; Connected does.
                      call(path, kProperties, QStringLiteral("Get"),
                           {kDevice, QStringLiteral("Connected")},
                           [this, handle](const QDBusMessage &answer) {
                               Link *l = linkForHandle(handle);
                               if (l && !l->up && !isError(answer) &&
                                   answer.arguments().value(0)
                                       .value<QDBusVariant>()
                                       .variant()
                                       .toBool())
                                   linkUp(handle);
                           });
                  },
                  kConnectTimeoutMs);
         });
}

void BlueZBridge::linkUp(std::uint16_t handle) {
    Link *link = linkForHandle(handle);
    if (link == nullptr || link->up)
        return;
    link->up = true;
    log("connected " + link->path.toStdString());
    connectionComplete(kSuccess, handle, link->address);
    connectionCountChanged();
    openPending(*link);
}

void BlueZBridge::openPending(Link &link) {
    auto pending = std::move(link.pending);
    link.pending.clear();
    for (const PendingChannel &request : pending) {
        if (!hasClient(request.client))
            continue;
        const Channel channel = newChannel(request, link.nextRemoteCid);
        link.channels.push_back(channel);
        channelOpened(link.address, link.handle, channel, kRemoteMtu);
    }
}

void BlueZBridge::failLink(std::uint16_t handle, std::uint8_t status, const std::string &why) {
    auto it = links_.find(handle);
    if (it == links_.end())
        return;
    Link link = std::move(it->second);
    links_.erase(it);
    log("note " + link.path.toStdString() + ": " + why);
    if (auto request = pinRequests_.find(link.path); request != pinRequests_.end()) {
        bus_.send(request->second.createErrorReply(QStringLiteral("org.bluez.Error.Canceled"),
                                                   QStringLiteral("the pairing failed")));
        pinRequests_.erase(request);
    }
    for (const PendingChannel &request : link.pending)
        channelFailed(request.client, link.address, handle, request.psm, status);
    for (const Channel &channel : link.channels)
        channelClosed(channel);
    if (link.up) {
        disconnectionComplete(handle, status);
        connectionCountChanged();
    }
}

void BlueZBridge::dropLink(std::uint16_t handle, std::uint8_t reason) {
    failLink(handle, reason, "link closed");
}

bool BlueZBridge::closeChannel(int client, std::uint16_t cid) {
    return closeChannelIn(links_, client, cid);
}

void BlueZBridge::clientDropped(int id) {
    for (auto &[handle, link] : links_) {
        std::erase_if(link.channels, [id](const Channel &c) { return c.client == id; });
        std::erase_if(link.pending, [id](const PendingChannel &p) { return p.client == id; });
    }
}

BlueZBridge::Link *BlueZBridge::linkFor(const QString &path) {
    for (auto &[handle, link] : links_)
        if (link.path == path)
            return &link;
    return nullptr;
}

BlueZBridge::Link *BlueZBridge::linkForHandle(std::uint16_t handle) {
    auto it = links_.find(handle);
    return it == links_.end() ? nullptr : &it->second;
}

void BlueZBridge::connectionCountChanged() {
    std::uint8_t count = 0;
    for (const auto &[handle, link] : links_)
        count += link.up;
    connectionCount(count);
}

// The agent ----------------------------------------------------------------------------------

// BlueZ asks the agent of whoever called Pair, so the desktop's own agent stays the default.
void BlueZBridge::registerAgent() {
    if (agentRegistered_)
        return;
    agentRegistered_ = true;
    call(QStringLiteral("/org/bluez"), kAgentManager, QStringLiteral("RegisterAgent"),
         {QVariant::fromValue(QDBusObjectPath(kAgentPath)), QStringLiteral("KeyboardOnly")},
         [this](const QDBusMessage &reply) {
             if (isError(reply) &&
                 reply.errorName() != QLatin1String("org.bluez.Error.AlreadyExists")) {
                 log("note BlueZ would not take the agent: " + described(reply));
                 agentRegistered_ = false;
             }
         });
}

void BlueZBridge::pinRequested(const QString &devicePath, const QDBusMessage &request) {
    const Device *device = deviceAt(devicePath);
    if (device == nullptr) {
        bus_.send(request.createErrorReply(QStringLiteral("org.bluez.Error.Rejected"),
                                           QStringLiteral("unknown device")));
        return;
    }
    log("pin requested " + devicePath.toStdString());
    if (auto old = pinRequests_.find(devicePath); old != pinRequests_.end())
        bus_.send(old->second.createErrorReply(QStringLiteral("org.bluez.Error.Canceled"),
                                               QStringLiteral("asked again")));
    pinRequests_[devicePath] = request;
    Bytes parameters;
    appendAddress(parameters, device->address);
    broadcast(HCI_EVENT_PIN_CODE_REQUEST, parameters);
}

void BlueZBridge::answerPin(const QString &devicePath, const std::optional<std::string> &pin) {
    auto request = pinRequests_.find(devicePath);
    if (request == pinRequests_.end()) {
        log("note a PIN reply nobody asked for");
        return;
    }
    if (pin && !pin->empty() && pin->size() <= 16)
        bus_.send(request->second.createReply(QString::fromStdString(*pin)));
    else
        bus_.send(request->second.createErrorReply(QStringLiteral("org.bluez.Error.Rejected"),
                                                   QStringLiteral("no PIN")));
    pinRequests_.erase(request);
}

} // namespace platform::btstack
