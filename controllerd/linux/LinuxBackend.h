#pragma once

#include "BlueZController.h"
#include "ControllerBackend.h"
#include "KeyboardController.h"
#include "LightBar.h"
#include "PreferencesWatch.h"

#include <QTimer>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace controllerd {

// The controller on a Linux desktop: BlueZ connects it and reports it coming and going, and the
// kernel's driver lights its light bar. The controller followed is the one the preferences name
// (or the last one connected on request), so the PS button reconnecting it counts as connected.
class LinuxBackend : public ControllerBackend {
    Q_OBJECT
public:
    // How long a connect may take: less than the page's 20 s, so a failure is answered and
    // logged before the page gives up.
    static constexpr std::chrono::milliseconds kConnectTimeout{18000};

    // `grabKeyboards`: the keyboard playing as a gamepad types nothing else meanwhile.
    explicit LinuxBackend(bool grabKeyboards = false, QObject *parent = nullptr);
    ~LinuxBackend() override;

    std::uint64_t connectController(std::int32_t type, const BluetoothAddress &address,
                                    Done done) override;
    void cancelConnect(std::uint64_t ticket) override;
    void disconnectController() override;
    std::string showLightColor(bool connected, std::int32_t type,
                               const std::uint8_t *rgb) override;
    void restart() override;

private:
    struct Waiter {
        std::uint64_t ticket;
        Done done;
    };

    // At start and restart everything, the colour included; when the file changes, only which
    // controller is followed (the pairing tool stored another), not a colour a drag still sends.
    void readPreferences(bool withColour);
    void startBlueZ();
    void onConnected(const QString &address);
    void onDisconnected(const QString &address);
    void attach(const BluetoothAddress &address);
    void finishWaiters(bool ok, const std::string &error);
    // The keyboard (type 6) as the controller: asked for by a connect, or by the preferences
    // naming that type (the page has no connect button for it).
    bool startKeyboard(std::string &error);
    void followKeyboardType(bool wasKeyboard);
    std::string writeLightBar();

    std::unique_ptr<BlueZController> bluez_;
    std::unique_ptr<PreferencesWatch> preferences_;
    KeyboardController keyboard_;
    std::int32_t type_ = 0;
    std::int32_t storedType_ = 0; // the preferences' own: only its change is a choice on the page
    std::optional<BluetoothAddress> followed_;
    std::optional<BluetoothAddress> attached_;
    std::optional<LightBar> lightBar_; // of the attached controller's connection
    std::array<std::uint8_t, 3> colour_{0x00, 0x4E, 0xFD};
    // Connects waiting for BlueZ; all for `connecting_`, or (type 0, no address) for whichever
    // paired controller connects first.
    std::vector<Waiter> waiters_;
    std::optional<BluetoothAddress> connecting_;
    QTimer anyControllerDeadline_;
    std::uint64_t nextTicket_ = 1;
};

} // namespace controllerd
