#include "BlueZBus.h"

#include <QDBusArgument>
#include <QDBusServiceWatcher>

namespace platform::bluez {

bool serviceGone(const QDBusMessage &reply) {
    const QString name = reply.errorName();
    return name == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner") ||
           name == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
           name == QLatin1String("org.freedesktop.DBus.Error.Disconnected");
}

QString describe(const QDBusMessage &reply) {
    const QString message = reply.errorMessage().simplified();
    return message.isEmpty() ? reply.errorName()
                             : reply.errorName() + QStringLiteral(" (") + message + u')';
}

ManagedObjects managedObjects(const QDBusMessage &reply) {
    ManagedObjects objects;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        reply.arguments().first().value<QDBusArgument>() >> objects;
    return objects;
}

bool propertiesChanged(const QDBusMessage &signal, QString &interface, QVariantMap &changed) {
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2)
        return false;
    interface = arguments.at(0).toString();
    changed = qdbus_cast<QVariantMap>(arguments.at(1));
    return true;
}

bool interfacesAdded(const QDBusMessage &signal, QString &path, InterfaceMap &interfaces) {
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2)
        return false;
    path = arguments.at(0).value<QDBusObjectPath>().path();
    arguments.at(1).value<QDBusArgument>() >> interfaces;
    return true;
}

bool interfacesRemoved(const QDBusMessage &signal, QString &path, QStringList &interfaces) {
    const QList<QVariant> arguments = signal.arguments();
    if (arguments.size() < 2)
        return false;
    path = arguments.at(0).value<QDBusObjectPath>().path();
    interfaces = arguments.at(1).toStringList();
    return true;
}

void follow(const QDBusConnection &bus, QObject *receiver) {
    auto *watcher = new QDBusServiceWatcher(kService, bus,
                                            QDBusServiceWatcher::WatchForOwnerChange, receiver);
    QObject::connect(watcher, SIGNAL(serviceRegistered(QString)), receiver,
                     SLOT(onServiceRegistered()));
    QObject::connect(watcher, SIGNAL(serviceUnregistered(QString)), receiver,
                     SLOT(onServiceUnregistered()));
    QDBusConnection connection = bus;
    connection.connect(kService, QString(), kProperties, QStringLiteral("PropertiesChanged"),
                       receiver, SLOT(onPropertiesChanged(QDBusMessage)));
    connection.connect(kService, QStringLiteral("/"), kObjectManager,
                       QStringLiteral("InterfacesAdded"), receiver,
                       SLOT(onInterfacesAdded(QDBusMessage)));
    connection.connect(kService, QStringLiteral("/"), kObjectManager,
                       QStringLiteral("InterfacesRemoved"), receiver,
                       SLOT(onInterfacesRemoved(QDBusMessage)));
}

} // namespace platform::bluez
