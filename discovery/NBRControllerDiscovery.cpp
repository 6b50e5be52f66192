#include "NBRControllerDiscovery.h"

#include "AtomicFile.h"
#include "DevicePath.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "btstack.h"
#include "notify.h"

#include <QTimer>
#include <cerrno>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr std::uint32_t kInquiryLAP = 0x9E8B33; // general inquiry
constexpr int kInquiryLength = 1;               // 1.28 s
constexpr int kInquiryMode = 1;                 // results with RSSI
constexpr std::chrono::milliseconds kInquiryInterval{2000};

constexpr std::uint16_t kControlPSM = 0x11;
constexpr std::uint16_t kInterruptPSM = 0x13;
constexpr std::uint16_t kChannelMTU = 250;
constexpr int kRemoteUserTerminated = 0x13;

// The controller classes the engine pairs with.
constexpr std::uint32_t kClassPINOne = 0x002508;
constexpr std::uint32_t kClassPINTwo = 0x040508;
constexpr std::uint32_t kClassTwoSteps = 0x000508;
constexpr std::uint32_t kClassControlOnlyOne = 0x002540;
constexpr std::uint32_t kClassControlOnlyTwo = 0x01F000;
constexpr const char *kPINOne = "5820";
constexpr const char *kPINTwo = "7391";
constexpr int kPINLength = 4;

bool isAcceptedClass(std::uint32_t classOfDevice) {
    return classOfDevice == kClassPINOne || classOfDevice == kClassPINTwo ||
           classOfDevice == kClassTwoSteps || classOfDevice == kClassControlOnlyOne ||
           classOfDevice == kClassControlOnlyTwo;
}

std::uint16_t little16(const std::uint8_t *bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

void packetHandlerFunction(uint8_t packetType, uint16_t channel, uint8_t *packet, uint16_t size) {
    NBRControllerDiscovery::sharedInstance().packetHandler(packetType, channel, packet, size);
}

} // namespace

NBRControllerDiscovery &NBRControllerDiscovery::sharedInstance() {
    static NBRControllerDiscovery *instance = new NBRControllerDiscovery; // lives for the process
    return *instance;
}

NBRControllerDiscovery::NBRControllerDiscovery() {
    allOpenedChannels_.reserve(4);
    run_loop_init(RUN_LOOP_COCOA);
    bt_register_packet_handler(packetHandlerFunction);
}

NBRControllerDiscovery::~NBRControllerDiscovery() {
    updateBlock_ = nullptr;
    allOpenedChannels_.clear();
}

bool NBRControllerDiscovery::activateBluetooth() {
    if (bluetoothState_ == NBRBluetoothStateClosed) {
        bluetoothState_ = NBRBluetoothStateOpening;
        if (bt_open() != 0) {
            bluetoothState_ = NBRBluetoothStateClosed;
            return false;
        }
    }
    bt_send_cmd(&btstack_set_power_mode, HCI_POWER_ON);
    bluetoothState_ = NBRBluetoothStateReady;
    bt_send_cmd(&btstack_get_system_bluetooth_enabled);
    return true;
}

void NBRControllerDiscovery::searchPS4ControllerWithUpdateState(UpdateBlock block) {
    updateBlock_ = std::move(block);
    if (bluetoothState_ == NBRBluetoothStateReady) {
        bluetoothState_ = NBRBluetoothStateSearchRequested;
        sendInquiry();
        report(nullptr, NBRDiscoveryProgressSearchStarted);
    } else {
        report(nullptr, NBRDiscoveryProgressBluetoothInactive);
    }
}

void NBRControllerDiscovery::sendInquiry() {
    if (bluetoothState_ != NBRBluetoothStatePairing)
        bt_send_cmd(&hci_write_inquiry_mode, kInquiryMode);
    // Both the retry while Bluetooth comes up and the repetition of the search.
    QTimer::singleShot(kInquiryInterval, &timerOwner_, [this] { sendInquiry(); });
}

void NBRControllerDiscovery::endSearch() {
    if (bluetoothState_ != NBRBluetoothStateClosed) {
        bt_send_cmd(&hci_inquiry_cancel);
        bluetoothState_ = NBRBluetoothStateReady;
    }
    report(nullptr, NBRDiscoveryProgressSearchEnded);
}

void NBRControllerDiscovery::closeBTstack() {
    if (bluetoothState_ == NBRBluetoothStateClosed)
        return;
    endSearch();
    bt_send_cmd(&l2cap_unregister_service, kControlPSM);
    bt_send_cmd(&l2cap_unregister_service, kInterruptPSM);
    bt_send_cmd(&hci_disconnect, connectionHandle_, kRemoteUserTerminated);
    for (std::uint16_t channel : allOpenedChannels_)
        bt_send_cmd(&l2cap_disconnect, channel, 1);
    std::this_thread::sleep_for(shutdownWait_);
    bt_send_cmd(&btstack_set_power_mode, HCI_POWER_OFF);
    bt_close();
    bluetoothState_ = NBRBluetoothStateClosed;
}

void NBRControllerDiscovery::handleFoundDeviceWithAddress(const std::uint8_t *address) {
    storeAddress(address);
    notify_post(NBRPreferencesChangedNotification);
    endSearch();
    pairToController(address);
}

void NBRControllerDiscovery::storeAddress(const std::uint8_t *address) {
    const std::string path = platform::devicePath(NBRPreferencesPath);
    auto preferences = platform::readPlistDictionary(path);
    if (!preferences) {
        // A file that is not there yet starts out with the address alone, so pairing on a
        // fresh device is not lost; one that exists but cannot be read is left as it is.
        struct stat info;
        if (::stat(path.c_str(), &info) == 0 || errno != ENOENT)
            return;
        preferences.emplace();
    }
    (*preferences)[NBRBluetoothAddressKey] =
        platform::PlistValue::Data(address, address + NBRBluetoothAddressLength);
    platform::writePlistAtomically(path, platform::PlistValue(std::move(*preferences)),
                                   platform::PlistFormat::XML);
}

void NBRControllerDiscovery::pairToController(const std::uint8_t *address) {
    bluetoothState_ = NBRBluetoothStatePairing;
    std::copy(address, address + 6, pairedAddress_);
    pairedClassOfDevice_ = classOfDevice_;
    bt_send_cmd(&l2cap_register_service, kControlPSM, kChannelMTU);
    bt_send_cmd(&l2cap_register_service, kInterruptPSM, kChannelMTU);
    bool authenticate =
        pairedClassOfDevice_ == kClassPINOne || pairedClassOfDevice_ == kClassPINTwo;
    bt_send_cmd(&hci_write_authentication_enable, authenticate ? 1 : 0);
}

void NBRControllerDiscovery::packetHandler(std::uint8_t, std::uint16_t, const std::uint8_t *packet,
                                           std::uint16_t size) {
    // Each event is read only as far as it reaches: a short one is ignored.
    if (packet == nullptr || size < 1)
        return;
    const std::uint8_t event = packet[0];
    if (event == HCI_EVENT_COMMAND_COMPLETE && size >= 5 &&
        little16(packet + 3) == hci_write_inquiry_mode.opcode) {
        bluetoothState_ = NBRBluetoothStateInquiring;
        bt_send_cmd(&hci_inquiry, kInquiryLAP, kInquiryLength, 0);
        report(nullptr, NBRDiscoveryProgressSearching);
    }

    if (bluetoothState_ == NBRBluetoothStatePairing) {
        switch (event) {
        case HCI_EVENT_COMMAND_COMPLETE:
            if (size >= 5 && little16(packet + 3) == hci_write_authentication_enable.opcode) {
                bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kControlPSM, kChannelMTU);
                if (pairedClassOfDevice_ == kClassPINOne)
                    bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kInterruptPSM,
                                kChannelMTU);
            }
            break;
        case HCI_EVENT_PIN_CODE_REQUEST: {
            if (size < 8)
                break;
            bd_addr_t address;
            bt_flip_addr(address, packet + 2);
            if (pairedClassOfDevice_ == kClassPINOne)
                bt_send_cmd(&hci_pin_code_request_reply, address, kPINLength, kPINOne);
            else if (pairedClassOfDevice_ == kClassPINTwo)
                bt_send_cmd(&hci_pin_code_request_reply, address, kPINLength, kPINTwo);
            break;
        }
        case HCI_EVENT_LINK_KEY_REQUEST: {
            if (size < 8)
                break;
            bd_addr_t address;
            bt_flip_addr(address, packet + 2);
            bt_send_cmd(&hci_link_key_request_negative_reply, address);
            break;
        }
        case L2CAP_EVENT_CHANNEL_OPENED: {
            if (size < 17)
                break;
            const std::uint16_t psm = little16(packet + 11);
            connectionHandle_ = little16(packet + 9);
            localChannelID_ = little16(packet + 13);
            remoteChannelID_ = little16(packet + 15);
            if (packet[2] != 0)
                break;
            allOpenedChannels_.push_back(localChannelID_);
            allOpenedChannels_.push_back(remoteChannelID_);
            if (pairedClassOfDevice_ == kClassTwoSteps && psm == kControlPSM) {
                bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kInterruptPSM, kChannelMTU);
                break;
            }
            std::vector<std::uint8_t> paired(pairedAddress_, pairedAddress_ + 6);
            report(&paired, NBRDiscoveryProgressPaired);
            break;
        }
        case L2CAP_EVENT_CREDITS:
            // The channel is noted; nothing is sent on it. The event holds no data to pass on,
            // and unasked-for bytes on a HID channel would reach the controller as a report.
            if (size >= 4)
                localChannelID_ = little16(packet + 2);
            break;
        default:
            break;
        }
        return;
    }

    if (event != HCI_EVENT_INQUIRY_RESULT && event != HCI_EVENT_INQUIRY_RESULT_WITH_RSSI)
        return;
    if (size < 3 || packet[2] == 0)
        return;
    const std::size_t count = packet[2];
    // Each response takes 14 bytes in either layout; an event whose count runs past its end
    // is not read at all.
    if (size < 3 + 14 * count)
        return;
    const std::size_t classes = 3 + (event == HCI_EVENT_INQUIRY_RESULT ? 9 : 8) * count;
    for (std::size_t i = 0; i < count; ++i) {
        bd_addr_t address;
        bt_flip_addr(address, packet + 3 + 6 * i);
        const std::uint8_t *cod = packet + classes + 3 * i;
        classOfDevice_ = cod[0] + cod[1] * 256u + cod[2] * 65536u;
        if (isAcceptedClass(classOfDevice_))
            handleFoundDeviceWithAddress(address);
    }
}

void NBRControllerDiscovery::report(const std::vector<std::uint8_t> *address, std::int32_t state) {
    if (updateBlock_)
        updateBlock_(address, state);
}
