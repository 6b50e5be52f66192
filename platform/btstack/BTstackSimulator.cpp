#include "BTstackSimulator.h"

#include <algorithm>
#include <cstdio>

namespace platform::btstack {
namespace {

// HCI status codes the simulator answers with.
constexpr std::uint8_t kSuccess = 0x00;
constexpr std::uint8_t kUnknownCommand = 0x01;
constexpr std::uint8_t kUnknownConnection = 0x02;
constexpr std::uint8_t kPageTimeout = 0x04;
constexpr std::uint8_t kAuthenticationFailure = 0x05;
constexpr std::uint8_t kPinOrKeyMissing = 0x06;
constexpr std::uint8_t kConnectionExists = 0x0B;
constexpr std::uint8_t kCommandDisallowed = 0x0C;
constexpr std::uint8_t kInvalidParameters = 0x12;
constexpr std::uint8_t kLocalHostTerminated = 0x16;
constexpr std::uint8_t kLmpResponseTimeout = 0x22;
constexpr std::uint8_t kPsmRefused = 0x65;

constexpr std::uint16_t kRemoteMtu = 48;
constexpr std::size_t kExtendedInquiryResponseSize = 240;

std::uint16_t opcodeOf(const hci_cmd_t &command) {
    return command.opcode;
}


} // namespace

BTstackSimulator::BTstackSimulator(SimulatorScenario scenario, LogSink log, QObject *parent)
    : BTstackServer(std::move(log), parent), scenario_(std::move(scenario)) {
    commandDelayMs_ = scenario_.commandDelayMs;
    logEvents_ = scenario_.logEvents;
}

void BTstackSimulator::clientDropped(int id) {
    for (auto &[handle, link] : links_) {
        std::erase_if(link.channels, [id](const Channel &c) { return c.client == id; });
        std::erase_if(link.pending, [id](const PendingChannel &p) { return p.client == id; });
    }
}

void BTstackSimulator::l2capData(Client &client, const Frame &frame) {
    for (auto &[handle, link] : links_)
        for (const auto &channel : link.channels)
            if (channel.localCid == frame.channel && channel.client == client.id) {
                // One credit back per packet sent.
                Bytes credits;
                appendLE16(credits, channel.localCid);
                credits.push_back(1);
                sendEvent(client.id, channel.localCid, L2CAP_EVENT_CREDITS, credits);
                return;
            }
}

bool BTstackSimulator::daemonCommand(Client &client, const DecodedCommand &command) {
    const hci_cmd_t *d = command.descriptor;
    if (d == &btstack_get_system_bluetooth_enabled) {
        sendEvent(client.id, 0, BTSTACK_EVENT_SYSTEM_BLUETOOTH_ENABLED,
                  {static_cast<std::uint8_t>(scenario_.systemBluetoothEnabled)});
    } else if (d == &btstack_set_system_bluetooth_enabled) {
        scenario_.systemBluetoothEnabled = command.value("enabled") != 0;
        broadcast(BTSTACK_EVENT_SYSTEM_BLUETOOTH_ENABLED,
                  {static_cast<std::uint8_t>(scenario_.systemBluetoothEnabled)});
    } else {
        return false;
    }
    return true;
}

void BTstackSimulator::controllerCommand(Client &, const DecodedCommand &command) {
    using Handler = void (BTstackSimulator::*)(const DecodedCommand &);
    static constexpr std::pair<const hci_cmd_t *, Handler> kHandlers[] = {
        {&hci_reset, &BTstackSimulator::acknowledge},
        {&hci_write_scan_enable, &BTstackSimulator::acknowledge},
        {&hci_write_inquiry_mode, &BTstackSimulator::writeInquiryMode},
        {&hci_write_authentication_enable, &BTstackSimulator::writeAuthenticationEnable},
        {&hci_read_bd_addr, &BTstackSimulator::readLocalAddress},
        {&hci_inquiry, &BTstackSimulator::inquiryCommand},
        {&hci_inquiry_cancel, &BTstackSimulator::inquiryCancelCommand},
        {&hci_disconnect, &BTstackSimulator::disconnectCommand},
        {&hci_create_connection, &BTstackSimulator::createConnectionCommand},
        {&hci_remote_name_request, &BTstackSimulator::remoteNameRequest},
        {&hci_link_key_request_reply, &BTstackSimulator::securityReplyCommand},
        {&hci_link_key_request_negative_reply, &BTstackSimulator::securityReplyCommand},
        {&hci_pin_code_request_reply, &BTstackSimulator::securityReplyCommand},
        {&hci_pin_code_request_negative_reply, &BTstackSimulator::securityReplyCommand},
    };
    for (const auto &[descriptor, handler] : kHandlers)
        if (command.descriptor == descriptor) {
            (this->*handler)(command);
            return;
        }
    commandComplete(command.opcode, kUnknownCommand);
}

void BTstackSimulator::acknowledge(const DecodedCommand &command) {
    commandComplete(command.opcode, kSuccess);
}

void BTstackSimulator::writeInquiryMode(const DecodedCommand &command) {
    std::uint32_t mode = command.value("mode");
    if (mode <= 2)
        inquiryMode_ = static_cast<std::uint8_t>(mode);
    commandComplete(command.opcode, mode <= 2 ? kSuccess : kInvalidParameters);
}

void BTstackSimulator::writeAuthenticationEnable(const DecodedCommand &command) {
    authenticationEnable_ = command.value("enable") != 0;
    commandComplete(command.opcode, kSuccess);
}

void BTstackSimulator::readLocalAddress(const DecodedCommand &command) {
    Bytes extra;
    appendAddress(extra, scenario_.localAddress);
    commandComplete(command.opcode, kSuccess, extra);
}

void BTstackSimulator::inquiryCommand(const DecodedCommand &command) {
    if (inquiring_) {
        commandStatus(command.opcode, kCommandDisallowed);
        return;
    }
    commandStatus(command.opcode, kSuccess);
    startInquiry(static_cast<std::uint8_t>(command.value("length")),
                 static_cast<std::uint8_t>(command.value("responses")));
}

void BTstackSimulator::inquiryCancelCommand(const DecodedCommand &command) {
    bool was = inquiring_;
    stopInquiry();
    commandComplete(command.opcode, was ? kSuccess : kCommandDisallowed);
}

void BTstackSimulator::disconnectCommand(const DecodedCommand &command) {
    auto handle = static_cast<std::uint16_t>(command.value("handle"));
    if (linkForHandle(handle) == nullptr) {
        commandStatus(command.opcode, kUnknownConnection);
        return;
    }
    commandStatus(command.opcode, kSuccess);
    dropLink(handle, kLocalHostTerminated);
}

void BTstackSimulator::createConnectionCommand(const DecodedCommand &command) {
    Address a = addressField(command);
    if (linkFor(a) != nullptr) {
        commandStatus(command.opcode, kConnectionExists);
        return;
    }
    openChannel(0, a, 0, 0);
}

void BTstackSimulator::remoteNameRequest(const DecodedCommand &command) {
    commandStatus(command.opcode, kSuccess);
    Address a = addressField(command);
    const VirtualDevice *device = deviceFor(a);
    bool there = device && inRange(*device);
    Bytes parameters{there ? kSuccess : kPageTimeout};
    appendAddress(parameters, a);
    std::string name = there ? device->name : "";
    parameters.insert(parameters.end(), name.begin(), name.end());
    parameters.resize(parameters.size() + kNameFieldSize - name.size(), 0);
    later(there ? device->delayMs : scenario_.pageTimeoutMs,
          [this, parameters] { broadcast(0x07, parameters); });
}

// The link-key and PIN replies, positive or negative.
void BTstackSimulator::securityReplyCommand(const DecodedCommand &command) {
    const hci_cmd_t *d = command.descriptor;
    Address a = addressField(command);
    Bytes extra;
    appendAddress(extra, a);
    commandComplete(command.opcode, kSuccess, extra);
    Bytes secret;
    bool negative =
        d == &hci_link_key_request_negative_reply || d == &hci_pin_code_request_negative_reply;
    if (d == &hci_link_key_request_reply)
        secret = command.field("link_key")->bytes;
    if (d == &hci_pin_code_request_reply) {
        const auto &pin = command.field("pin")->bytes;
        std::size_t length = std::min<std::size_t>(command.value("pin_length"), pin.size());
        secret.assign(pin.begin(), pin.begin() + static_cast<long>(length));
    }
    bool pinReply = d == &hci_pin_code_request_reply || d == &hci_pin_code_request_negative_reply;
    securityReply(a, pinReply, negative ? nullptr : &secret);
}

void BTstackSimulator::powerOn() {
    if (scenario_.powerOnFails) {
        log("note power-on fails");
        broadcast(BTSTACK_EVENT_POWERON_FAILED, {});
        return;
    }
    setState(HCI_STATE_INITIALIZING);
    const unsigned generation = ++powerGeneration_;
    later(scenario_.powerOnDelayMs, [this, generation] {
        if (generation == powerGeneration_ && state() == HCI_STATE_INITIALIZING)
            finishPowerOn();
    });
}

void BTstackSimulator::finishPowerOn() {
    inquiryMode_ = 0;
    authenticationEnable_ = 0;
    commandComplete(opcodeOf(hci_reset), kSuccess);
    Bytes address;
    appendAddress(address, scenario_.localAddress);
    commandComplete(opcodeOf(hci_read_bd_addr), kSuccess, address);
    commandComplete(opcodeOf(hci_write_scan_enable), kSuccess);
    setState(HCI_STATE_WORKING);
}

void BTstackSimulator::powerOff() {
    ++powerGeneration_;
    setState(HCI_STATE_HALTING);
    stopInquiry();
    while (!links_.empty())
        dropLink(links_.begin()->first, kLocalHostTerminated);
    setState(HCI_STATE_OFF);
}

bool BTstackSimulator::inRange(const VirtualDevice &device) const {
    return device.inquiries < 0 || inquiriesStarted_ <= device.inquiries;
}

const VirtualDevice *BTstackSimulator::deviceFor(const Address &address, std::size_t *index) const {
    for (std::size_t i = 0; i < scenario_.devices.size(); ++i)
        if (scenario_.devices[i].address == address) {
            if (index)
                *index = i;
            return &scenario_.devices[i];
        }
    return nullptr;
}

BTstackSimulator::Link *BTstackSimulator::linkFor(const Address &address) {
    for (auto &[handle, link] : links_)
        if (scenario_.devices[link.device].address == address)
            return &link;
    return nullptr;
}

BTstackSimulator::Link *BTstackSimulator::linkForHandle(std::uint16_t handle) {
    auto it = links_.find(handle);
    return it == links_.end() ? nullptr : &it->second;
}

void BTstackSimulator::startInquiry(std::uint8_t length, std::uint8_t responses) {
    inquiring_ = true;
    const unsigned generation = ++inquiryGeneration_;
    ++inquiriesStarted_;
    inquiryResponsesLeft_ = responses;
    const int duration = length * scenario_.inquiryUnitMs;
    // Each batch of responses goes out in one event: a device alone, or every device due at
    // that moment when the scenario groups them.
    std::vector<std::pair<int, std::vector<std::size_t>>> batches;
    for (std::size_t i = 0; i < scenario_.devices.size(); ++i) {
        const VirtualDevice &device = scenario_.devices[i];
        if (!inRange(device) || device.delayMs > duration)
            continue;
        auto same = std::find_if(batches.begin(), batches.end(),
                                 [&](const auto &batch) { return batch.first == device.delayMs; });
        // An event's parameters hold at most 255 bytes: 18 responses.
        if (scenario_.groupResponses && same != batches.end() && same->second.size() < 18)
            same->second.push_back(i);
        else
            batches.push_back({device.delayMs, {i}});
    }
    for (auto &[delay, batch] : batches) {
        later(delay, [this, generation, batch = std::move(batch)] {
            if (generation != inquiryGeneration_ || !inquiring_)
                return;
            std::vector<const VirtualDevice *> devices;
            for (std::size_t i : batch)
                devices.push_back(&scenario_.devices[i]);
            if (inquiryResponsesLeft_ > 0 &&
                devices.size() > static_cast<std::size_t>(inquiryResponsesLeft_))
                devices.resize(static_cast<std::size_t>(inquiryResponsesLeft_));
            sendInquiryResults(devices);
            if (inquiryResponsesLeft_ > 0 &&
                (inquiryResponsesLeft_ -= static_cast<int>(devices.size())) == 0) {
                stopInquiry();
                broadcast(HCI_EVENT_INQUIRY_COMPLETE, {kSuccess});
            }
        });
    }
    later(duration, [this, generation] {
        if (generation != inquiryGeneration_ || !inquiring_)
            return;
        stopInquiry();
        broadcast(HCI_EVENT_INQUIRY_COMPLETE, {kSuccess});
    });
}

void BTstackSimulator::sendInquiryResults(const std::vector<const VirtualDevice *> &devices) {
    // An extended inquiry response carries one device only.
    if (devices.size() == 1 || inquiryMode_ == 2) {
        for (const VirtualDevice *device : devices)
            sendInquiryResult(*device);
        return;
    }
    // The fields are grouped: every address, then every page-scan mode, the reserved bytes,
    // every class, every clock offset (and every RSSI).
    Bytes grouped{static_cast<std::uint8_t>(devices.size())};
    for (const VirtualDevice *device : devices)
        appendAddress(grouped, device->address);
    grouped.insert(grouped.end(), devices.size(), 1); // page-scan repetition mode R1
    grouped.insert(grouped.end(), (inquiryMode_ == 0 ? 2 : 1) * devices.size(), 0);
    for (const VirtualDevice *device : devices)
        appendLE24(grouped, device->classOfDevice);
    for (std::size_t i = 0; i < devices.size(); ++i)
        appendLE16(grouped, 0x1234); // clock offset
    if (inquiryMode_ == 0) {
        broadcast(HCI_EVENT_INQUIRY_RESULT, grouped);
        return;
    }
    for (const VirtualDevice *device : devices)
        grouped.push_back(static_cast<std::uint8_t>(device->rssi));
    broadcast(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, grouped);
}

void BTstackSimulator::sendInquiryResult(const VirtualDevice &device) {
    Bytes parameters{1};
    appendAddress(parameters, device.address);
    parameters.push_back(1); // page-scan repetition mode R1
    if (inquiryMode_ == 0)
        parameters.insert(parameters.end(), {0, 0});
    else
        parameters.push_back(0);
    appendLE24(parameters, device.classOfDevice);
    appendLE16(parameters, 0x1234); // clock offset
    if (inquiryMode_ == 0) {
        broadcast(HCI_EVENT_INQUIRY_RESULT, parameters);
        return;
    }
    parameters.push_back(static_cast<std::uint8_t>(device.rssi));
    if (inquiryMode_ == 1) {
        broadcast(HCI_EVENT_INQUIRY_RESULT_WITH_RSSI, parameters);
        return;
    }
    Bytes response;
    if (!device.name.empty()) {
        std::size_t length =
            std::min<std::size_t>(device.name.size(), kExtendedInquiryResponseSize - 2);
        response.push_back(static_cast<std::uint8_t>(length + 1));
        response.push_back(0x09); // complete local name
        response.insert(response.end(), device.name.begin(),
                        device.name.begin() + static_cast<long>(length));
    }
    response.resize(kExtendedInquiryResponseSize, 0);
    parameters.insert(parameters.end(), response.begin(), response.end());
    broadcast(HCI_EVENT_EXTENDED_INQUIRY_RESPONSE, parameters);
}

void BTstackSimulator::stopInquiry() {
    inquiring_ = false;
    ++inquiryGeneration_;
}

void BTstackSimulator::openChannel(int client, const Address &address, std::uint16_t psm,
                                   std::uint16_t mtu) {
    std::size_t index = 0;
    const VirtualDevice *device = deviceFor(address, &index);
    if (Link *link = linkFor(address)) {
        if (psm != 0)
            link->pending.push_back({client, psm, mtu});
        if (link->up)
            continueLink(*link);
        return;
    }
    commandStatus(opcodeOf(hci_create_connection), kSuccess);
    if (device == nullptr || !inRange(*device)) {
        later(scenario_.pageTimeoutMs, [this, client, address, psm] {
            connectionComplete(kPageTimeout, 0, address);
            if (psm != 0)
                channelFailed(client, address, 0, psm, kPageTimeout);
        });
        return;
    }
    Link link;
    link.handle = nextHandle_++;
    link.device = index;
    if (psm != 0)
        link.pending.push_back({client, psm, mtu});
    const std::uint16_t handle = link.handle;
    links_[handle] = std::move(link);
    later(device->delayMs, [this, handle] { pageComplete(handle); });
}

void BTstackSimulator::pageComplete(std::uint16_t handle) {
    Link *link = linkForHandle(handle);
    if (link == nullptr)
        return;
    link->up = true;
    connectionComplete(kSuccess, handle, scenario_.devices[link->device].address);
    std::uint8_t count = 0;
    for (const auto &[h, l] : links_)
        count += l.up;
    connectionCount(count);
    continueLink(*link);
}

void BTstackSimulator::continueLink(Link &link) {
    if (link.security == Security::AwaitingLinkKey || link.security == Security::AwaitingPin ||
        link.pending.empty())
        return;
    const VirtualDevice &device = scenario_.devices[link.device];
    if (link.security != Security::Done && (authenticationEnable_ || !device.pin.empty())) {
        link.security = Security::AwaitingLinkKey;
        const unsigned generation = ++link.securityGeneration;
        Bytes parameters;
        appendAddress(parameters, device.address);
        broadcast(HCI_EVENT_LINK_KEY_REQUEST, parameters);
        const std::uint16_t handle = link.handle;
        later(scenario_.pairingTimeoutMs, [this, handle, generation] {
            Link *l = linkForHandle(handle);
            if (l == nullptr || l->securityGeneration != generation)
                return;
            if (l->security == Security::AwaitingLinkKey)
                authenticationFinished(*l, kLmpResponseTimeout);
            else if (l->security == Security::AwaitingPin)
                authenticationFinished(*l, kPinOrKeyMissing);
        });
        return;
    }
    auto pending = std::move(link.pending);
    link.pending.clear();
    for (const auto &request : pending)
        completeChannel(link, request);
}

void BTstackSimulator::securityReply(const Address &address, bool pinReply, const Bytes *secret) {
    Link *link = linkFor(address);
    if (link == nullptr)
        return;
    const VirtualDevice &device = scenario_.devices[link->device];
    if (!pinReply) {
        if (link->security != Security::AwaitingLinkKey)
            return;
        if (secret == nullptr) {
            link->security = Security::AwaitingPin;
            ++link->securityGeneration;
            Bytes parameters;
            appendAddress(parameters, device.address);
            broadcast(HCI_EVENT_PIN_CODE_REQUEST, parameters);
            const std::uint16_t handle = link->handle;
            const unsigned generation = link->securityGeneration;
            later(scenario_.pairingTimeoutMs, [this, handle, generation] {
                Link *l = linkForHandle(handle);
                if (l && l->securityGeneration == generation &&
                    l->security == Security::AwaitingPin)
                    authenticationFinished(*l, kPinOrKeyMissing);
            });
            return;
        }
        auto known = linkKeys_.find(device.address);
        authenticationFinished(*link, known != linkKeys_.end() && known->second == *secret
                                          ? kSuccess
                                          : kAuthenticationFailure);
        return;
    }
    if (link->security != Security::AwaitingPin)
        return;
    if (secret == nullptr) {
        authenticationFinished(*link, kPinOrKeyMissing);
        return;
    }
    if (!device.pin.empty() && Bytes(device.pin.begin(), device.pin.end()) != *secret) {
        log("note device " + formatAddress(device.address) + " refuses the PIN");
        authenticationFinished(*link, kAuthenticationFailure);
        return;
    }
    Bytes key(16);
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<std::uint8_t>(device.address[i % 6] ^ (0x5A + 17 * i));
    linkKeys_[device.address] = key;
    Bytes parameters;
    appendAddress(parameters, device.address);
    parameters.insert(parameters.end(), key.begin(), key.end());
    parameters.push_back(0); // combination key
    broadcast(HCI_EVENT_LINK_KEY_NOTIFICATION, parameters);
    authenticationFinished(*link, kSuccess);
}

void BTstackSimulator::authenticationFinished(Link &link, std::uint8_t status) {
    ++link.securityGeneration;
    if (status == kSuccess) {
        link.security = Security::Done;
        continueLink(link);
        return;
    }
    link.security = Security::None;
    const Address address = scenario_.devices[link.device].address;
    const std::uint16_t handle = link.handle;
    auto pending = std::move(link.pending);
    link.pending.clear();
    for (const auto &request : pending)
        channelFailed(request.client, address, handle, request.psm, status);
    dropLink(handle, status);
}

void BTstackSimulator::completeChannel(Link &link, const PendingChannel &request) {
    if (request.client == 0 || !hasClient(request.client))
        return;
    const VirtualDevice &device = scenario_.devices[link.device];
    if (std::find(device.refusedPsms.begin(), device.refusedPsms.end(), request.psm) !=
        device.refusedPsms.end()) {
        log("note device " + formatAddress(device.address) + " refuses PSM " +
            std::to_string(request.psm));
        channelFailed(request.client, device.address, link.handle, request.psm, kPsmRefused);
        return;
    }
    const Channel channel = newChannel(request, link.nextRemoteCid);
    link.channels.push_back(channel);
    channelOpened(device.address, link.handle, channel, kRemoteMtu);
    Bytes credits;
    appendLE16(credits, channel.localCid);
    credits.push_back(1);
    sendEvent(channel.client, channel.localCid, L2CAP_EVENT_CREDITS, credits);
}

bool BTstackSimulator::closeChannel(int client, std::uint16_t cid) {
    return closeChannelIn(links_, client, cid);
}

void BTstackSimulator::dropLink(std::uint16_t handle, std::uint8_t reason) {
    auto it = links_.find(handle);
    if (it == links_.end())
        return;
    Link link = std::move(it->second);
    links_.erase(it);
    for (const auto &channel : link.channels)
        channelClosed(channel);
    for (const auto &request : link.pending)
        channelFailed(request.client, scenario_.devices[link.device].address, handle, request.psm,
                      reason);
    if (!link.up)
        return;
    disconnectionComplete(handle, reason);
    std::uint8_t count = 0;
    for (const auto &[h, l] : links_)
        count += l.up;
    connectionCount(count);
}

} // namespace platform::btstack
