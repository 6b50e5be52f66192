#include "LinuxBackend.h"

#include "DevicePath.h"
#include "KeyboardGamepad.h"
#include "LightBar.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "PlistValue.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <algorithm>

namespace controllerd {
namespace {

std::optional<BluetoothAddress> addressFrom(const QString &text) {
    return parseBluetoothAddress(text.toStdString());
}

QString bluezSpelling(const BluetoothAddress &address) {
    return QString::fromStdString(formatBluetoothAddress(address)).toUpper();
}

bool isZero(const BluetoothAddress &address) {
    return std::all_of(address.begin(), address.end(), [](std::uint8_t b) { return b == 0; });
}

} // namespace

LinuxBackend::LinuxBackend(bool grabKeyboards, QObject *parent) : ControllerBackend(parent) {
    keyboard_.setExclusive(grabKeyboards);
    connect(&keyboard_, &KeyboardController::problem, this,
            [this](const QString &message) { log("keyboard gamepad: " + message.toStdString()); });
    anyControllerDeadline_.setSingleShot(true);
    connect(&anyControllerDeadline_, &QTimer::timeout, this, [this] {
        finishWaiters(false, "no controller connected within " +
                                 std::to_string(kConnectTimeout.count() / 1000) +
                                 " s: press its PS button");
    });
    // The first log lines wait for the daemon to set its log.
    QTimer::singleShot(0, this, [this] {
        // Watched before it is read: a file written in between is then a change, not missed.
        preferences_ = std::make_unique<PreferencesWatch>(
            platform::devicePath(NBRPreferencesPath));
        readPreferences(true);
        connect(preferences_.get(), &PreferencesWatch::changed, this, [this] {
            const bool wasKeyboard = type_ == NBRControllerTypeKeyboard;
            readPreferences(false);
            followKeyboardType(wasKeyboard);
        });
        startBlueZ();
        followKeyboardType(false);
    });
}

LinuxBackend::~LinuxBackend() = default;

void LinuxBackend::readPreferences(bool withColour) {
    const std::string path = platform::devicePath(NBRPreferencesPath);
    const auto preferences = platform::readPlistDictionary(path);
    auto entry = [&](const char *key) -> const platform::PlistValue * {
        if (!preferences)
            return nullptr;
        auto found = preferences->find(key);
        return found == preferences->end() ? nullptr : &found->second;
    };
    const auto before = std::make_pair(type_, followed_);
    std::int32_t storedType = NBRDefaultControllerType;
    if (const auto *stored = entry(NBRControllerTypeKey))
        storedType = static_cast<std::int32_t>(stored->integerValue().value_or(storedType));
    // A file written for something else (a keymap, a colour) keeps the type a connect asked for.
    if (withColour || storedType != storedType_)
        type_ = storedType;
    storedType_ = storedType;
    // Without a stored address the controller connected last is still the one followed.
    if (const auto *stored = entry(NBRBluetoothAddressKey);
        stored && stored->data() && stored->data()->size() == 6) {
        BluetoothAddress address;
        std::copy_n(stored->data()->begin(), 6, address.begin());
        followed_ = address;
    }
    keyboard_.setKeymap(KeyboardKeymap::fromPreferences(preferences));
    if (!withColour) {
        if (before != std::make_pair(type_, followed_))
            log("linux backend: preferences changed, controller " +
                (followed_ ? formatBluetoothAddress(*followed_) : std::string("none paired")) +
                " type=" + std::to_string(type_));
        else
            log("linux backend: preferences read again (the keymap)");
        return;
    }
    const std::uint32_t pixel =
        NBRColorPixelForHexString(NBRLEDColorTextForValue(entry(NBRLEDColorKey)).c_str());
    colour_ = {static_cast<std::uint8_t>(pixel >> 16), static_cast<std::uint8_t>(pixel >> 8),
               static_cast<std::uint8_t>(pixel)};
    char colour[8];
    std::snprintf(colour, sizeof colour, "%02x%02x%02x", colour_[0], colour_[1], colour_[2]);
    log("linux backend: " +
        (preferences ? "preferences " + path : "no preferences at " + path) + ", controller " +
        (followed_ ? formatBluetoothAddress(*followed_) : std::string("none paired")) +
        " type=" + std::to_string(type_) + " light bar " + colour);
}

void LinuxBackend::startBlueZ() {
    const QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected())
        log("linux backend: no system bus (" + bus.lastError().message().toStdString() +
            "): controllers cannot connect");
    else if (!bus.interface()->isServiceRegistered(QStringLiteral("org.bluez")).value())
        log("linux backend: no Bluetooth service (org.bluez) on the system bus yet: start "
            "bluetoothd; controllers connect once it is there");
    bluez_ = std::make_unique<BlueZController>(bus);
    connect(bluez_.get(), &BlueZController::controllerConnected, this, &LinuxBackend::onConnected);
    connect(bluez_.get(), &BlueZController::controllerDisconnected, this,
            &LinuxBackend::onDisconnected);
}

std::uint64_t LinuxBackend::connectController(std::int32_t type, const BluetoothAddress &address,
                                              Done done) {
    const std::uint64_t ticket = nextTicket_++;
    if (type == NBRControllerTypeKeyboard) {
        std::string error;
        const bool ok = startKeyboard(error);
        if (ok)
            type_ = type;
        QTimer::singleShot(0, this, [done = std::move(done), ok, error] {
            done(ok, ok ? std::string() : error);
        });
        return ticket;
    }
    const bool anyController = isZero(address);
    if (!bluez_) // before the event loop first ran
        startBlueZ();
    if (anyController && attached_) {
        QTimer::singleShot(0, this, [done = std::move(done)] { done(true, {}); });
        return ticket;
    }
    if (!waiters_.empty()) {
        if (connecting_ == (anyController ? std::nullopt : std::optional(address))) {
            waiters_.push_back({ticket, std::move(done)});
        } else {
            QTimer::singleShot(0, this, [done = std::move(done)] {
                done(false, "another controller is being connected");
            });
        }
        return ticket;
    }
    type_ = type;
    waiters_.push_back({ticket, std::move(done)});
    if (anyController) {
        // A PS3 controller has no stored address: it connects when its PS button is pressed.
        connecting_.reset();
        if (auto connected = addressFrom(bluez_->connectedAddress())) {
            attach(*connected);
            finishWaiters(true, {});
        } else {
            anyControllerDeadline_.start(kConnectTimeout);
        }
        return ticket;
    }
    connecting_ = address;
    bluez_->connectController(bluezSpelling(address), kConnectTimeout,
                              [this, address](bool ok, const QString &error) {
                                  if (ok)
                                      attach(address);
                                  finishWaiters(ok, error.toStdString());
                              });
    return ticket;
}

void LinuxBackend::cancelConnect(std::uint64_t ticket) {
    const auto before = waiters_.size();
    std::erase_if(waiters_, [ticket](const Waiter &waiter) { return waiter.ticket == ticket; });
    if (before == waiters_.size() || !waiters_.empty())
        return;
    anyControllerDeadline_.stop();
    // Nobody waits any more: a connection still being made is not wanted.
    if (connecting_ && !attached_)
        bluez_->disconnectController();
    connecting_.reset();
}

void LinuxBackend::finishWaiters(bool ok, const std::string &error) {
    anyControllerDeadline_.stop();
    connecting_.reset();
    for (Waiter &waiter : std::exchange(waiters_, {}))
        waiter.done(ok, error);
}

void LinuxBackend::disconnectController() {
    if (keyboard_.running()) {
        keyboard_.stop();
        log("keyboard gamepad removed");
        return;
    }
    attached_.reset();
    if (!bluez_)
        return;
    bluez_->disconnectController([this](bool ok, const QString &error) {
        if (!ok)
            log("linux backend: " + error.toStdString());
    });
}

void LinuxBackend::onConnected(const QString &text) {
    const auto address = addressFrom(text);
    if (!address)
        return;
    // Connected by request, by its PS button, or (a PS3 controller) the first one to come.
    if (address == followed_ || address == connecting_ || (!waiters_.empty() && !connecting_)) {
        attach(*address);
        if (!connecting_)
            finishWaiters(true, {});
    }
}

void LinuxBackend::onDisconnected(const QString &text) {
    const auto address = addressFrom(text);
    if (!address || address != attached_)
        return;
    attached_.reset();
    emit controllerDetached(QStringLiteral("controller went away"));
}

void LinuxBackend::attach(const BluetoothAddress &address) {
    if (attached_ == address)
        return;
    attached_ = address;
    lightBar_.reset(); // a new connection: the kernel made the LED devices anew
    followed_ = address;
    emit controllerAttached(type_, address);
    if (type_ != NBRControllerTypeDualShock4)
        return;
    // The new LED devices start dark.
    char colour[8];
    std::snprintf(colour, sizeof colour, "%02x%02x%02x", colour_[0], colour_[1], colour_[2]);
    log(std::string("light bar ") + colour + writeLightBar());
}

std::string LinuxBackend::showLightColor(bool, std::int32_t, const std::uint8_t *rgb) {
    std::copy_n(rgb, colour_.size(), colour_.begin());
    if (!attached_)
        return " kept (no controller connected)";
    return writeLightBar();
}

std::string LinuxBackend::writeLightBar() {
    if (!lightBar_)
        lightBar_.emplace(*attached_);
    const LightBarResult result = lightBar_->show(colour_[0], colour_[1], colour_[2]);
    if (result.ok())
        return " shown through " + result.path;
    return " kept (" + result.message + ")";
}

void LinuxBackend::restart() {
    finishWaiters(false, "the daemon restarted");
    attached_.reset();
    keyboard_.stop();
    bluez_.reset();
    readPreferences(true);
    startBlueZ();
    followKeyboardType(false);
}

bool LinuxBackend::startKeyboard(std::string &error) {
    if (keyboard_.running())
        return true;
    if (!keyboard_.start(error))
        return false;
    std::string keyboards;
    for (const std::string &node : keyboard_.keyboards())
        keyboards += (keyboards.empty() ? "" : ", ") + node;
    log("keyboard gamepad " + keyboard_.gamepadNode() + " driven by " + keyboards +
        (error.empty() ? "" : " (" + error + ")"));
    return true;
}

// Choosing the keyboard on the page is its connect; choosing another type lets it go. Only a
// choice counts: a file written for a keymap or a colour neither brings back a pad the user
// disconnected nor retries one that could not be made.
void LinuxBackend::followKeyboardType(bool wasKeyboard) {
    const bool isKeyboard = type_ == NBRControllerTypeKeyboard;
    if (isKeyboard && !wasKeyboard && !keyboard_.running()) {
        std::string error;
        if (startKeyboard(error))
            emit controllerAttached(NBRControllerTypeKeyboard, BluetoothAddress{});
        else
            log("keyboard gamepad: " + error);
    } else if (!isKeyboard && wasKeyboard && keyboard_.running()) {
        keyboard_.stop();
        log("keyboard gamepad removed");
        emit controllerDetached(QStringLiteral("another controller type was chosen"));
    }
}

} // namespace controllerd
