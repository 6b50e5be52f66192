#include "NBRControllerConnector.h"

#include "DevicePath.h"
#include "NBRControlSocket.h"
#include "NBRLightColorSender.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "UIAlertView.h"
#include "dispatch.h"
#include "notify.h"

#include <QLabel>
#include <unistd.h>
#include <vector>

namespace {

void showAlert(const QString &title, const QString &message) {
    (new UIAlertView(title, message, nullptr, "Dismiss"))->show();
}

void setCellEnabled(PSTableCell *cell, bool enabled) {
    if (cell == nullptr)
        return;
    cell->setUserInteractionEnabled(enabled);
    cell->textLabel()->setEnabled(enabled);
}

// What the exchanges see of the connector: the flag while it lives, NO after.
bool readFlag(const std::weak_ptr<std::atomic<bool>> &flag) {
    auto alive = flag.lock();
    return alive && alive->load();
}

void invertFlag(const std::weak_ptr<std::atomic<bool>> &flag) {
    if (auto alive = flag.lock())
        alive->store(!alive->load());
}

// A connection for an exchange; -1, with the failure posted, when the daemon cannot be reached.
int openConnection() {
    const int fd = NBRConnectToControlSocket();
    if (fd < 0)
        notify_post(NBRFailureNotification);
    return fd;
}

std::vector<std::uint8_t> storedAddress() {
    std::vector<std::uint8_t> address;
    if (auto preferences =
            platform::readPlistDictionary(platform::devicePath(NBRPreferencesPath))) {
        auto entry = preferences->find(NBRBluetoothAddressKey);
        if (entry != preferences->end() && entry->second.data())
            address = *entry->second.data();
    }
    return address;
}

} // namespace

// Whatever made the controller leave (switched off, out of range, another client's release),
// the button must not offer to disconnect it.
NBRControllerConnector::NBRControllerConnector(Client client) : client_(std::move(client)) {
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), this,
                                    daemonSaidControllerLeft, NBRDisconnectedNotification, nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
}

NBRControllerConnector::~NBRControllerConnector() {
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), this);
}

void NBRControllerConnector::daemonSaidControllerLeft(CFNotificationCenterRef, void *observer,
                                                      CFNotificationName, const void *,
                                                      const void *) {
    auto *self = static_cast<NBRControllerConnector *>(observer);
    self->setConnected(false);
    if (self->client_.controllerLeft)
        self->client_.controllerLeft();
}

PSTableCell *NBRControllerConnector::begin(PSTableCell *cell) {
    ++inFlight_;
    setCellEnabled(cell, false);
    return cell;
}

void NBRControllerConnector::end(PSTableCell *cell) {
    setCellEnabled(cell, true);
    // A rebuild meanwhile replaced the cell the exchange began with.
    if (inFlight_ > 0 && --inFlight_ == 0)
        setCellEnabled(client_.buttonCell(), true);
}

void NBRControllerConnector::keepDisabledWhileBusy(PSTableCell *cell) const {
    if (inFlight_ > 0)
        setCellEnabled(cell, false);
}

void NBRControllerConnector::endOnMainQueue(QPointer<PSTableCell> cell,
                                            QPointer<NBRControllerConnector> self, bool ran) {
    dispatch_async(dispatch_get_main_queue(), [cell, self, ran] { ended(cell, self, ran); });
}

void NBRControllerConnector::ended(QPointer<PSTableCell> cell,
                                   QPointer<NBRControllerConnector> self, bool ran) {
    if (!self) {
        setCellEnabled(cell.data(), true);
        return;
    }
    self->end(cell.data());
    if (ran)
        self->client_.exchangeRan();
}

void NBRControllerConnector::acknowledgedOnMainQueue(int fd, QPointer<PSTableCell> cell,
                                                     QPointer<NBRControllerConnector> self,
                                                     int type, std::uint32_t color) {
    // A DualShock 4 lights up at once, on this connection. The client reads the type and the
    // colour as they are now, on the main thread: the user may have changed either while the
    // connect waited.
    dispatch_async(dispatch_get_main_queue(), [fd, cell, self, type, color] {
        if (self)
            self->client_.acknowledged(fd);
        else if (type == NBRControllerTypeDualShock4)
            NBRLightColorSender::sendOnConnection(fd, color);
        ::close(fd);
        ended(cell, self, true);
    });
}

void NBRControllerConnector::queryConnected(PSTableCell *cell) {
    const int fd = openConnection();
    if (fd < 0)
        return;
    QPointer<PSTableCell> held = begin(cell);
    QPointer<NBRControllerConnector> self(this);
    Flag flag = connected_;
    const auto timeout = statusTimeout_;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [fd, held, self, flag, timeout] {
                       const bool timed = NBRControlSetReceiveTimeout(fd, timeout);
                       if (timed) {
                           auto reply = NBRControlQueryStatus(fd);
                           if (auto alive = flag.lock())
                               alive->store(NBRConnectedAfterStatusReply(reply, alive->load()));
                       }
                       ::close(fd);
                       endOnMainQueue(held, self, timed);
                   });
}

void NBRControllerConnector::connectOrDisconnect(PSTableCell *cell, int type, std::uint32_t color) {
    const int fd = openConnection();
    if (fd < 0)
        return;
    std::vector<std::uint8_t> address = storedAddress();
    if (address.size() != NBRBluetoothAddressLength && type != NBRControllerTypePS3) {
        ::close(fd);
        showAlert("No controller!", "You need to pair your controller first.");
        return;
    }
    // The exchange reads nothing of the connector but its flag: what it needs is taken here.
    QPointer<PSTableCell> held = begin(cell);
    QPointer<NBRControllerConnector> self(this);
    Flag flag = connected_;
    const auto timeout = connectTimeout_;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [fd, held, self, flag, timeout, type, address = std::move(address), color] {
                       runConnect(fd, held, self, flag, timeout, type, address, color);
                   });
}

void NBRControllerConnector::runConnect(int fd, QPointer<PSTableCell> cell,
                                        QPointer<NBRControllerConnector> self, Flag flag,
                                        std::chrono::milliseconds timeout, int type,
                                        std::vector<std::uint8_t> address, std::uint32_t color) {
    const bool timed = NBRControlSetReceiveTimeout(fd, timeout);
    if (timed) {
        if (readFlag(flag)) {
            NBRControlDisconnect(fd, type);
            invertFlag(flag);
        } else {
            notify_post(NBRInitBluetoothNotification);
            if (NBRControlConnect(fd, type, address)) {
                invertFlag(flag);
                acknowledgedOnMainQueue(fd, cell, self, type, color);
                return;
            }
        }
    }
    ::close(fd);
    endOnMainQueue(cell, self, timed);
}

void NBRControllerConnector::restartDaemons() {
    const int fd = NBRConnectToControlSocket();
    if (fd < 0) {
        showAlert("Important!", "A critical error has occurred! Please reboot your device in "
                                "order to continue using Nimbrel.");
        return;
    }
    NBRControlRestart(fd);
    ::close(fd);
}
