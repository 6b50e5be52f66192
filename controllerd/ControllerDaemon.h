#pragma once

#include "BluetoothAddress.h"
#include "DaemonOptions.h"
#include "NBRControlSocket.h"

#include <QObject>
#include <cstdio>
#include <memory>
#include <string>

class QSocketNotifier;
class ControlConnection;

// The controller daemon stand-in: serves the control socket, keeps one simulated controller
// (type, address, light-bar colour) and posts the controller-event notifications.
class ControllerDaemon : public QObject {
    Q_OBJECT
public:
    explicit ControllerDaemon(DaemonOptions options, QObject *parent = nullptr);
    ~ControllerDaemon() override;

    // Binds and listens; false (with `error`) when the path is taken by a live daemon or
    // cannot be bound.
    bool listen(std::string &error);

    const DaemonOptions &options() const { return options_; }
    bool controllerConnected() const { return connected_; }
    std::int32_t controllerType() const { return type_; }

    // What the connections ask of the simulated controller.
    void beginSearch();
    void attachController(std::int32_t type, const std::uint8_t *address);
    void detachController(const char *why);
    void setLightColor(const std::uint8_t *rgb);

    void log(const std::string &line);
    int nextConnectionId() { return ++connectionCount_; }

private:
    void acceptPending();
    void post(const char *name);

    DaemonOptions options_;
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
