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

// Where the fields the engine reads lie in each event: offsets into the packet, which begins
// with the event code and the parameters' length. HCI fields are named as BlueZ names them,
// BTstack's own events' fields as its daemon lays them out; `end` is where the last field read
// ends, so a packet shorter than that is not read at all.
namespace CommandComplete { // ncmd, opcode, then the command's return parameters
constexpr std::size_t opcode = 3;
constexpr std::size_t end = opcode + 2;
} // namespace CommandComplete

namespace AddressRequest { // PIN Code Request and Link Key Request alike: bdaddr
constexpr std::size_t bdaddr = 2;
constexpr std::size_t end = bdaddr + NBRBluetoothAddressLength;
} // namespace AddressRequest

// Inquiry Result, plain or with RSSI: num_rsp, then each field of the responses as an array of
// num_rsp entries.
namespace InquiryResult {
constexpr std::size_t num_rsp = 2;
constexpr std::size_t bdaddr = 3;
constexpr std::size_t pscan_rep_mode_size = 1;
constexpr std::size_t pscan_period_mode_size = 1;
constexpr std::size_t pscan_mode_size = 1; // not in the RSSI layout
constexpr std::size_t dev_class_size = 3;
constexpr std::size_t clock_offset_size = 2;
constexpr std::size_t rssi_size = 1; // RSSI layout only
// How far one response's fields reach before its dev_class, in each layout.
constexpr std::size_t before_dev_class =
    NBRBluetoothAddressLength + pscan_rep_mode_size + pscan_period_mode_size + pscan_mode_size;
constexpr std::size_t with_rssi_before_dev_class =
    NBRBluetoothAddressLength + pscan_rep_mode_size + pscan_period_mode_size;
// One response takes as many bytes in either layout.
constexpr std::size_t response_size = before_dev_class + dev_class_size + clock_offset_size;
static_assert(response_size ==
              with_rssi_before_dev_class + dev_class_size + clock_offset_size + rssi_size);
} // namespace InquiryResult

// BTstack's L2CAP channel opened: status, address, handle, psm, local_cid, remote_cid, then
// fields that grew with the daemon's versions and are not read.
namespace ChannelOpened {
constexpr std::size_t status = 2;
constexpr std::size_t address = 3;
constexpr std::size_t handle = address + NBRBluetoothAddressLength;
constexpr std::size_t psm = handle + 2;
constexpr std::size_t local_cid = psm + 2;
constexpr std::size_t remote_cid = local_cid + 2;
constexpr std::size_t end = remote_cid + 2;
} // namespace ChannelOpened

namespace Credits { // BTstack's L2CAP credits: local_cid, credits
constexpr std::size_t local_cid = 2;
constexpr std::size_t end = local_cid + 2;
} // namespace Credits

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
    std::copy(address, address + NBRBluetoothAddressLength, pairedAddress_);
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
    // In any state: a set-up completion that arrives after pairing began restarts the search.
    if (event == HCI_EVENT_COMMAND_COMPLETE)
        handleInquiryModeComplete(packet, size);

    if (bluetoothState_ == NBRBluetoothStatePairing) {
        switch (event) {
        case HCI_EVENT_COMMAND_COMPLETE:
            handleAuthenticationComplete(packet, size);
            break;
        case HCI_EVENT_PIN_CODE_REQUEST:
            handlePINCodeRequest(packet, size);
            break;
        case HCI_EVENT_LINK_KEY_REQUEST:
            handleLinkKeyRequest(packet, size);
            break;
        case L2CAP_EVENT_CHANNEL_OPENED:
            handleChannelOpened(packet, size);
            break;
        case L2CAP_EVENT_CREDITS:
            handleCredits(packet, size);
            break;
        default:
            break;
        }
        return;
    }

    if (event == HCI_EVENT_INQUIRY_RESULT || event == HCI_EVENT_INQUIRY_RESULT_WITH_RSSI)
        handleInquiryResult(packet, size);
}

void NBRControllerDiscovery::handleInquiryModeComplete(const std::uint8_t *packet,
                                                       std::uint16_t size) {
    if (size < CommandComplete::end ||
        little16(packet + CommandComplete::opcode) != hci_write_inquiry_mode.opcode)
        return;
    bluetoothState_ = NBRBluetoothStateInquiring;
    bt_send_cmd(&hci_inquiry, kInquiryLAP, kInquiryLength, 0);
    report(nullptr, NBRDiscoveryProgressSearching);
}

void NBRControllerDiscovery::handleInquiryResult(const std::uint8_t *packet, std::uint16_t size) {
    using namespace InquiryResult;
    if (size <= num_rsp || packet[num_rsp] == 0)
        return;
    const std::size_t count = packet[num_rsp];
    // An event whose count runs past its end is not read at all.
    if (size < bdaddr + response_size * count)
        return;
    const std::size_t beforeClasses =
        packet[0] == HCI_EVENT_INQUIRY_RESULT ? before_dev_class : with_rssi_before_dev_class;
    const std::size_t dev_class = bdaddr + beforeClasses * count;
    for (std::size_t i = 0; i < count; ++i) {
        bd_addr_t address;
        bt_flip_addr(address, packet + bdaddr + NBRBluetoothAddressLength * i);
        const std::uint8_t *cod = packet + dev_class + dev_class_size * i;
        classOfDevice_ = cod[0] + cod[1] * 256u + cod[2] * 65536u;
        if (isAcceptedClass(classOfDevice_))
            handleFoundDeviceWithAddress(address);
    }
}

void NBRControllerDiscovery::handleAuthenticationComplete(const std::uint8_t *packet,
                                                          std::uint16_t size) {
    if (size < CommandComplete::end ||
        little16(packet + CommandComplete::opcode) != hci_write_authentication_enable.opcode)
        return;
    bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kControlPSM, kChannelMTU);
    if (pairedClassOfDevice_ == kClassPINOne)
        bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kInterruptPSM, kChannelMTU);
}

void NBRControllerDiscovery::handlePINCodeRequest(const std::uint8_t *packet, std::uint16_t size) {
    if (size < AddressRequest::end)
        return;
    bd_addr_t address;
    bt_flip_addr(address, packet + AddressRequest::bdaddr);
    if (pairedClassOfDevice_ == kClassPINOne)
        bt_send_cmd(&hci_pin_code_request_reply, address, kPINLength, kPINOne);
    else if (pairedClassOfDevice_ == kClassPINTwo)
        bt_send_cmd(&hci_pin_code_request_reply, address, kPINLength, kPINTwo);
}

void NBRControllerDiscovery::handleLinkKeyRequest(const std::uint8_t *packet, std::uint16_t size) {
    if (size < AddressRequest::end)
        return;
    bd_addr_t address;
    bt_flip_addr(address, packet + AddressRequest::bdaddr);
    bt_send_cmd(&hci_link_key_request_negative_reply, address);
}

void NBRControllerDiscovery::handleChannelOpened(const std::uint8_t *packet, std::uint16_t size) {
    if (size < ChannelOpened::end)
        return;
    // The handle and the ids are kept whatever the status: the shutdown disconnects the handle.
    const std::uint16_t psm = little16(packet + ChannelOpened::psm);
    connectionHandle_ = little16(packet + ChannelOpened::handle);
    localChannelID_ = little16(packet + ChannelOpened::local_cid);
    remoteChannelID_ = little16(packet + ChannelOpened::remote_cid);
    if (packet[ChannelOpened::status] != 0)
        return;
    allOpenedChannels_.push_back(localChannelID_);
    allOpenedChannels_.push_back(remoteChannelID_);
    if (pairedClassOfDevice_ == kClassTwoSteps && psm == kControlPSM) {
        bt_send_cmd(&l2cap_create_channel_mtu, pairedAddress_, kInterruptPSM, kChannelMTU);
        return;
    }
    std::vector<std::uint8_t> paired(pairedAddress_, pairedAddress_ + NBRBluetoothAddressLength);
    report(&paired, NBRDiscoveryProgressPaired);
}

void NBRControllerDiscovery::handleCredits(const std::uint8_t *packet, std::uint16_t size) {
    // The channel is noted; nothing is sent on it. The event holds no data to pass on, and
    // unasked-for bytes on a HID channel would reach the controller as a report.
    if (size >= Credits::end)
        localChannelID_ = little16(packet + Credits::local_cid);
}

void NBRControllerDiscovery::report(const std::vector<std::uint8_t> *address, std::int32_t state) {
    if (updateBlock_)
        updateBlock_(address, state);
}
