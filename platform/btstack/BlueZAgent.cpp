#include "BlueZAgent.h"

namespace platform::btstack {

QString BlueZAgent::RequestPinCode(const QDBusObjectPath &device, const QDBusMessage &message) {
    if (!ours_(device.path())) {
        refuseUnlessOurs(device, message);
        return {};
    }
    message.setDelayedReply(true);
    pinRequested_(device.path(), message);
    return {};
}

// A passkey is for keyboards; no controller the bridge pairs asks for one.
uint BlueZAgent::RequestPasskey(const QDBusObjectPath &, const QDBusMessage &message) {
    refuse(message, QStringLiteral("no passkey to give"));
    return 0;
}

void BlueZAgent::RequestConfirmation(const QDBusObjectPath &device, uint,
                                     const QDBusMessage &message) {
    refuseUnlessOurs(device, message);
}

void BlueZAgent::RequestAuthorization(const QDBusObjectPath &device, const QDBusMessage &message) {
    refuseUnlessOurs(device, message);
}

void BlueZAgent::AuthorizeService(const QDBusObjectPath &device, const QString &,
                                  const QDBusMessage &message) {
    refuseUnlessOurs(device, message);
}

void BlueZAgent::refuseUnlessOurs(const QDBusObjectPath &device, const QDBusMessage &message) {
    if (ours_(device.path()))
        return; // the empty reply accepts
    refuse(message, QStringLiteral("not a pairing of ours"));
}

void BlueZAgent::refuse(const QDBusMessage &message, const QString &why) {
    message.setDelayedReply(true);
    bus_.send(message.createErrorReply(QStringLiteral("org.bluez.Error.Rejected"), why));
}

} // namespace platform::btstack
