#include "SimulatorBackend.h"

#include "NBRConstants.h"

#include <QTimer>

SimulatorBackend::SimulatorBackend(const DaemonOptions &options, QObject *parent)
    : ControllerBackend(parent), options_(options) {}

std::uint64_t SimulatorBackend::connectController(std::int32_t, const BluetoothAddress &,
                                                  Done done) {
    const std::uint64_t ticket = nextTicket_++;
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this, ticket, done = std::move(done)] {
        pending_.take(ticket)->deleteLater();
        done(!options_.refuseConnect, std::string());
    });
    pending_.insert(ticket, timer);
    timer->start(options_.connectDelayMs);
    return ticket;
}

void SimulatorBackend::cancelConnect(std::uint64_t ticket) {
    delete pending_.take(ticket);
}

std::string SimulatorBackend::showLightColor(bool connected, std::int32_t type,
                                             const std::uint8_t *) {
    return connected && type == NBRControllerTypeDualShock4 ? " shown" : " kept (no DualShock 4)";
}
