#pragma once

#include "ControllerBackend.h"
#include "DaemonOptions.h"

#include <QHash>

class QTimer;

// A controller that is always in reach: a connect succeeds after the options' delay unless they
// say to refuse it, and the light bar is only logged. SIGUSR1 makes it walk away.
class SimulatorBackend : public ControllerBackend {
    Q_OBJECT
public:
    SimulatorBackend(const DaemonOptions &options, QObject *parent = nullptr);

    std::uint64_t connectController(std::int32_t type, const BluetoothAddress &address,
                                    Done done) override;
    void cancelConnect(std::uint64_t ticket) override;
    void disconnectController() override {}
    std::string showLightColor(bool connected, std::int32_t type,
                               const std::uint8_t *rgb) override;
    void restart() override {}

    void walkAway() { emit controllerDetached(QStringLiteral("controller went away")); }

private:
    const DaemonOptions &options_;
    QHash<std::uint64_t, QTimer *> pending_;
    std::uint64_t nextTicket_ = 1;
};
