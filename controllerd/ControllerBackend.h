#pragma once

#include "BluetoothAddress.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>

// What the control connections need done to a real or simulated controller. The daemon keeps
// the answers the socket gives (connected or not, which type) and posts the notifications; a
// backend does the work and reports a controller that comes or goes by itself.
class ControllerBackend : public QObject {
    Q_OBJECT
public:
    // `error` is one line a user can act on; empty when there is nothing to add.
    using Done = std::function<void(bool ok, const std::string &error)>;
    using Log = std::function<void(const std::string &line)>;

    explicit ControllerBackend(QObject *parent = nullptr) : QObject(parent) {}

    void setLog(Log log) { log_ = std::move(log); }

    // Connects the controller; `done` is called once, later, from the event loop, unless the
    // returned ticket is cancelled first.
    virtual std::uint64_t connectController(std::int32_t type, const BluetoothAddress &address,
                                            Done done) = 0;
    // The client gave up waiting: `done` is never called, and a connection still being made is
    // abandoned.
    virtual void cancelConnect(std::uint64_t ticket) = 0;
    // The user asked to let the controller go.
    virtual void disconnectController() = 0;
    // The light bar of the connected controller of `type` takes `rgb`; returns the log line's
    // end, after "light bar RRGGBB".
    virtual std::string showLightColor(bool connected, std::int32_t type,
                                       const std::uint8_t *rgb) = 0;
    // Starts afresh from what the preferences say, keeping nothing from before but the colour.
    virtual void restart() = 0;

signals:
    void controllerAttached(std::int32_t type, const BluetoothAddress &address);
    void controllerDetached(const QString &why);

protected:
    void log(const std::string &line) const {
        if (log_)
            log_(line);
    }

private:
    Log log_;
};
