#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <functional>

namespace platform::btstack {

// The bridge's org.bluez.Agent1: BlueZ asks it for what a pairing needs. A PIN request waits
// for the bridge's client (the reply is delayed); a device being paired on a client's request
// is confirmed and authorised, anything else refused.
class BlueZAgent : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.bluez.Agent1")
public:
    // `pinRequested` takes the request to answer later; `ours` says whether the bridge is
    // pairing that device.
    BlueZAgent(const QDBusConnection &bus,
               std::function<void(const QString &device, const QDBusMessage &request)> pinRequested,
               std::function<bool(const QString &device)> ours, QObject *parent = nullptr)
        : QObject(parent), bus_(bus), pinRequested_(std::move(pinRequested)),
          ours_(std::move(ours)) {}

public slots:
    void Release() {}
    QString RequestPinCode(const QDBusObjectPath &device, const QDBusMessage &message);
    uint RequestPasskey(const QDBusObjectPath &device, const QDBusMessage &message);
    void DisplayPinCode(const QDBusObjectPath &, const QString &) {}
    void DisplayPasskey(const QDBusObjectPath &, uint, ushort) {}
    void RequestConfirmation(const QDBusObjectPath &device, uint passkey,
                             const QDBusMessage &message);
    void RequestAuthorization(const QDBusObjectPath &device, const QDBusMessage &message);
    void AuthorizeService(const QDBusObjectPath &device, const QString &uuid,
                          const QDBusMessage &message);
    void Cancel() {}

private:
    void refuseUnlessOurs(const QDBusObjectPath &device, const QDBusMessage &message);
    void refuse(const QDBusMessage &message, const QString &why);

    QDBusConnection bus_;
    std::function<void(const QString &, const QDBusMessage &)> pinRequested_;
    std::function<bool(const QString &)> ours_;
};

} // namespace platform::btstack
