#pragma once

#include "NBRConstants.h"

#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

// Engine states (`bluetoothState`).
enum NBRBluetoothState : std::int32_t {
    NBRBluetoothStateClosed = 0,
    NBRBluetoothStateOpening = 1,
    NBRBluetoothStateReady = 2,
    NBRBluetoothStateSearchRequested = 3,
    NBRBluetoothStateInquiring = 4,
    NBRBluetoothStatePairing = 5,
};

// Finds a controller of one of the five known classes through the BTstack daemon, stores its
// address in the preferences file and pairs with it, reporting each step through the update
// block. Everything runs on the main thread.
class NBRControllerDiscovery {
public:
    // The address (6 bytes, most significant first) or none, and an NBRDiscoveryProgress value.
    using UpdateBlock =
        std::function<void(const std::vector<std::uint8_t> *address, std::int32_t state)>;

    // The one instance of the process, on which BTstack's packets arrive.
    static NBRControllerDiscovery &sharedInstance();

    // Selects BTstack's run loop and registers the packet handler (which forwards to the
    // shared instance). The process uses sharedInstance; tests may make instances of their own.
    NBRControllerDiscovery();
    ~NBRControllerDiscovery();
    NBRControllerDiscovery(const NBRControllerDiscovery &) = delete;
    NBRControllerDiscovery &operator=(const NBRControllerDiscovery &) = delete;

    bool activateBluetooth();
    void searchPS4ControllerWithUpdateState(UpdateBlock block);
    void sendInquiry();
    void endSearch();
    void closeBTstack();
    void handleFoundDeviceWithAddress(const std::uint8_t *address);
    void pairToController(const std::uint8_t *address);
    void packetHandler(std::uint8_t packetType, std::uint16_t channel, const std::uint8_t *packet,
                       std::uint16_t size);

    std::int32_t bluetoothState() const { return bluetoothState_; }
    const UpdateBlock &updateBlock() const { return updateBlock_; }
    std::uint32_t classOfDevice() const { return classOfDevice_; }
    const std::vector<std::uint16_t> &allOpenedChannels() const { return allOpenedChannels_; }

    // For the benchmark and the fuzz target only: they put the engine straight into the state a
    // packet is to meet. The engine itself never calls these.
    void setBluetoothState(std::int32_t state) { bluetoothState_ = state; }
    void setUpdateBlock(UpdateBlock block) { updateBlock_ = std::move(block); }
    void setClassOfDevice(std::uint32_t classOfDevice) { classOfDevice_ = classOfDevice; }
    void setAllOpenedChannels(std::vector<std::uint16_t> channels) {
        allOpenedChannels_ = std::move(channels);
    }

    // How long closeBTstack lets the disconnects go out before powering off (2 s).
    void setShutdownWait(std::chrono::milliseconds wait) { shutdownWait_ = wait; }

private:
    // One handler per event packetHandler dispatches; each reads its event only as far as
    // `size` reaches.
    void handleInquiryModeComplete(const std::uint8_t *packet, std::uint16_t size);
    void handleInquiryResult(const std::uint8_t *packet, std::uint16_t size);
    void handleAuthenticationComplete(const std::uint8_t *packet, std::uint16_t size);
    void handlePINCodeRequest(const std::uint8_t *packet, std::uint16_t size);
    void handleLinkKeyRequest(const std::uint8_t *packet, std::uint16_t size);
    void handleChannelOpened(const std::uint8_t *packet, std::uint16_t size);
    void handleCredits(const std::uint8_t *packet, std::uint16_t size);

    void report(const std::vector<std::uint8_t> *address, std::int32_t state);
    void storeAddress(const std::uint8_t *address);

    std::int32_t bluetoothState_ = NBRBluetoothStateClosed;
    UpdateBlock updateBlock_;
    std::uint32_t classOfDevice_ = 0;
    std::vector<std::uint16_t> allOpenedChannels_;

    // What the events of the pairing leave behind for the channels and the shutdown.
    std::uint8_t pairedAddress_[NBRBluetoothAddressLength] = {};
    // The paired device's own class: responses after it in the same inquiry event overwrite
    // classOfDevice_, and must not choose its PIN or its channels.
    std::uint32_t pairedClassOfDevice_ = 0;
    std::uint16_t connectionHandle_ = 0;
    std::uint16_t localChannelID_ = 0;
    std::uint16_t remoteChannelID_ = 0;

    std::chrono::milliseconds shutdownWait_{2000};
    QObject timerOwner_; // the inquiry timer goes with the instance
};
