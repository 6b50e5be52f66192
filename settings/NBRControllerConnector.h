#pragma once

#include "DarwinNotifyCenter.h"
#include "NBRConstants.h"

#include <QObject>
#include <QPointer>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class PSTableCell;

// The connect button's exchanges with the controller daemon: whether it has the controller,
// connecting it and disconnecting it. Each opens its connection on the main thread, runs on the
// global queue with the pressed button's cell disabled, and reports back on the main queue. A
// QObject only so that what reports back can tell it is gone.
class NBRControllerConnector : public QObject {
public:
    struct Client {
        // The connect button's cell as it is now: a rebuild of the page replaces it.
        std::function<PSTableCell *()> buttonCell;
        // An exchange has run to its end (main thread).
        std::function<void()> exchangeRan;
        // The daemon acknowledged a connect; what follows goes on its connection `fd`, which
        // the connector closes afterwards (main thread).
        std::function<void(int fd)> acknowledged;
        // The daemon said the controller left; the flag is clear (main thread).
        std::function<void()> controllerLeft;
    };
    explicit NBRControllerConnector(Client client);
    ~NBRControllerConnector() override;
    NBRControllerConnector(const NBRControllerConnector &) = delete;
    NBRControllerConnector &operator=(const NBRControllerConnector &) = delete;

    // Asks the daemon whether it has the controller, with `cell` disabled meanwhile.
    void queryConnected(PSTableCell *cell);
    // Disconnects when the controller is believed connected, else connects it with the stored
    // address (none for type 0). `color` is the light-bar colour for a DualShock 4 connected
    // after the client is gone. Without an address for types other than 0, an alert tells the
    // user to pair first and nothing starts.
    void connectOrDisconnect(PSTableCell *cell, int type, std::uint32_t color);
    // Sends the restart command on a connection of its own; an alert asks for a reboot when
    // none can be made.
    static void restartDaemons();

    // A rebuilt button must not take a second press while an exchange runs.
    void keepDisabledWhileBusy(PSTableCell *cell) const;

    // Written by the exchanges on the global queue, read on the main thread.
    bool connected() const { return connected_->load(); }
    void setConnected(bool connected) { connected_->store(connected); }

    // How long the status query and the connect wait for the daemon's reply.
    void setStatusQueryTimeout(std::chrono::milliseconds timeout) { statusTimeout_ = timeout; }
    void setConnectTimeout(std::chrono::milliseconds timeout) { connectTimeout_ = timeout; }

private:
    using Flag = std::weak_ptr<std::atomic<bool>>;
    PSTableCell *begin(PSTableCell *cell);
    void end(PSTableCell *cell);
    // Called on the global queue when an exchange is over.
    static void endOnMainQueue(QPointer<PSTableCell> cell, QPointer<NBRControllerConnector> self,
                               bool ran);
    // The same, on the main thread: a connector gone meanwhile still gives the cell back; only
    // a finished exchange rebuilds.
    static void ended(QPointer<PSTableCell> cell, QPointer<NBRControllerConnector> self, bool ran);
    // Called on the global queue when the daemon acknowledged a connect on `fd`.
    static void acknowledgedOnMainQueue(int fd, QPointer<PSTableCell> cell,
                                        QPointer<NBRControllerConnector> self, int type,
                                        std::uint32_t color);
    static void daemonSaidControllerLeft(CFNotificationCenterRef, void *observer,
                                         CFNotificationName, const void *, const void *);
    static void runConnect(int fd, QPointer<PSTableCell> cell,
                           QPointer<NBRControllerConnector> self, Flag flag,
                           std::chrono::milliseconds timeout, int type,
                           std::vector<std::uint8_t> address, std::uint32_t color);

    Client client_;
    // Shared with the exchanges in flight, which hold it weakly: a connector that has gone takes
    // no more updates.
    std::shared_ptr<std::atomic<bool>> connected_ = std::make_shared<std::atomic<bool>>(false);
    std::chrono::milliseconds statusTimeout_ = NBRStatusQueryTimeout;
    std::chrono::milliseconds connectTimeout_ = NBRConnectTimeout;
    int inFlight_ = 0;
};
