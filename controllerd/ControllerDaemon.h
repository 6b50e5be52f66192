#pragma once

#include "BluetoothAddress.h"
#include "ControllerBackend.h"
#include "DaemonOptions.h"
#include "NBRControlSocket.h"

#include <QObject>
#include <cstdio>
#include <memory>
#include <string>

class QSocketNotifier;
class ControlConnection;

// The controller daemon: serves the control socket, keeps one controller (type, address,
// light-bar colour) through its backend (simulated, or real on Linux) and posts the
// controller-event notifications.
class ControllerDaemon : public QObject {
    Q_OBJECT
public:
    // Without a backend the controller is simulated.
    explicit ControllerDaemon(DaemonOptions options, std::unique_ptr<ControllerBackend> backend = {},
                              QObject *parent = nullptr);
    ~ControllerDaemon() override;

    // Binds and listens; false (with `error`) when the path is taken by a live daemon or
    // cannot be bound.
    bool listen(std::string &error);

    const DaemonOptions &options() const { return options_; }
    bool controllerConnected() const { return connected_; }
    std::int32_t controllerType() const { return type_; }

    ControllerBackend &backend() { return *backend_; }

    // What the connections ask of the controller. A connect posts "searching" and ends in
    // `done`; the connection that takes the acknowledgement then attaches the controller.
    std::uint64_t connectController(std::int32_t type, const BluetoothAddress &address,
                                    ControllerBackend::Done done);
    void cancelConnect(std::uint64_t ticket) { backend_->cancelConnect(ticket); }
    void attachController(std::int32_t type, const BluetoothAddress &address);
    // The user let the controller go.
    void disconnectController(const char *why);
    void setLightColor(const std::uint8_t *rgb);
    void restart();

    void log(const std::string &line);
    int nextConnectionId() { return ++connectionCount_; }

private:
    void acceptPending();
    void post(const char *name);
    void detachController(const std::string &why);

    DaemonOptions options_;
    std::unique_ptr<ControllerBackend> backend_;
    std::FILE *log_ = stdout;
    std::string socketPath_;
    int listenFd_ = -1;
    QSocketNotifier *acceptNotifier_ = nullptr;
    int connectionCount_ = 0;

    bool connected_ = false;
    std::int32_t type_ = 0;
    BluetoothAddress address_{};
    std::uint8_t lightColor_[3] = {0x00, 0x4E, 0xFD};
};
