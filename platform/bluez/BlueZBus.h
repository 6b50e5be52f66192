#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QMap>
#include <QString>
#include <QVariantMap>

// BlueZ (org.bluez on the system bus) as the project's programs meet it: the controller daemon's
// Linux backend and the BTstack bridge follow the same objects the same way.
namespace platform::bluez {

inline const QString kService = QStringLiteral("org.bluez");
inline const QString kObjectManager = QStringLiteral("org.freedesktop.DBus.ObjectManager");
inline const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
inline const QString kAdapter = QStringLiteral("org.bluez.Adapter1");
inline const QString kDevice = QStringLiteral("org.bluez.Device1");

using InterfaceMap = QMap<QString, QVariantMap>;
using ManagedObjects = QMap<QDBusObjectPath, InterfaceMap>;

// The errors of a call whose peer is gone, as opposed to BlueZ answering no.
bool serviceGone(const QDBusMessage &reply);
// "org.bluez.Error.Failed (Page Timeout)": one line for a log or a user.
QString describe(const QDBusMessage &reply);
// GetManagedObjects' answer; empty for an error.
ManagedObjects managedObjects(const QDBusMessage &reply);
// PropertiesChanged's interface and what changed; false for a signal without them.
bool propertiesChanged(const QDBusMessage &signal, QString &interface, QVariantMap &changed);
// InterfacesAdded's object and what it now has; false for a signal without them.
bool interfacesAdded(const QDBusMessage &signal, QString &path, InterfaceMap &interfaces);
// InterfacesRemoved's object and what it no longer has; false for a signal without them.
bool interfacesRemoved(const QDBusMessage &signal, QString &path, QStringList &interfaces);

// From now on `receiver`'s slots onServiceRegistered(), onServiceUnregistered(),
// onPropertiesChanged(QDBusMessage), onInterfacesAdded(QDBusMessage) and
// onInterfacesRemoved(QDBusMessage) hear BlueZ come, go and change, on any object path, so what
// appears later is followed too.
void follow(const QDBusConnection &bus, QObject *receiver);

} // namespace platform::bluez
