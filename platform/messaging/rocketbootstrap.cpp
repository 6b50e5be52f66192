#include "rocketbootstrap.h"

#include "MessagingBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

extern "C" kern_return_t rocketbootstrap_unlock(const char *name) {
    if (name == nullptr || !platform::messaging::haveSessionBus())
        return KERN_FAILURE;
    auto unlockName = platform::messaging::unlockBusName(name);
    if (!unlockName)
        return KERN_FAILURE;
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface *daemon = bus.isConnected() ? bus.interface() : nullptr;
    if (daemon == nullptr)
        return KERN_FAILURE;
    // The bus gives the name up when this process goes, which is what ends the unlock. Several
    // processes may unlock the same name: the later ones wait in the bus's queue.
    QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = daemon->registerService(
        QString::fromStdString(*unlockName), QDBusConnectionInterface::QueueService,
        QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() == QDBusConnectionInterface::ServiceNotRegistered)
        return KERN_FAILURE;
    return KERN_SUCCESS;
}
