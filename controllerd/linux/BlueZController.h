#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>

class QDBusPendingCallWatcher;

namespace controllerd {

// The controller as BlueZ (org.bluez on the system bus) sees it: connects a paired controller on
// request and follows every paired device's connection by itself, whoever started it (the PS
// button reconnects a controller without asking us). Nothing here blocks: every call to BlueZ
// is asynchronous and answers through the event loop.
class BlueZController : public QObject {
    Q_OBJECT
public:
    // `ok` false comes with a one-line reason a user can act on.
    using Result = std::function<void(bool ok, const QString &error)>;

    explicit BlueZController(QObject *parent = nullptr);
    explicit BlueZController(const QDBusConnection &bus, QObject *parent = nullptr);
    ~BlueZController() override;

    // Connects the paired controller with `address` (any case); `done` is called once, later,
    // from the event loop: true only once BlueZ says the device is connected. One connect at a
    // time; a connect still open when this object goes is never answered.
    void connectController(const QString &address, std::chrono::milliseconds timeout,
                           Result done);
    // Asks BlueZ to drop the connected controller (or the one being connected).
    void disconnectController(Result done = {});

    bool isConnected() const { return !connectedAddress_.isEmpty(); }
    // BlueZ's spelling (upper case); empty when none is connected.
    QString connectedAddress() const { return connectedAddress_; }

signals:
    void controllerConnected(const QString &address);
    void controllerDisconnected(const QString &address);

private:
    struct Device {
        QString address;
        QString adapter;
        bool paired = false;
        bool connected = false;
    };
    struct Attempt {
        quint64 id = 0;
        QString address;
        QString path;
        Result done;
    };

    void readObjects(std::function<void(const QDBusMessage &reply)> then);
    void storeObjects(const QDBusMessage &reply);
    void storeInterfaces(const QString &path, const QMap<QString, QVariantMap> &interfaces);
    void startConnect(quint64 id, const QDBusMessage &reply);
    void callConnect(quint64 id);
    void checkConnected(quint64 id);
    void finish(bool ok, const QString &error);
    void failLater(Result done, const QString &error);
    void setConnected(const QString &path, bool connected);
    void forgetDevice(const QString &path);
    void watchReply(const QDBusMessage &call, std::function<void(const QDBusMessage &)> then);

private slots:
    void onPropertiesChanged(const QDBusMessage &message);
    void onInterfacesAdded(const QDBusMessage &message);
    void onInterfacesRemoved(const QDBusMessage &message);
    void onServiceRegistered();
    void onServiceUnregistered();

private:
    QDBusConnection bus_;
    QHash<QString, Device> devices_;  // by object path
    QHash<QString, bool> adapters_;   // powered, by object path
    QString connectedAddress_;
    QString connectedPath_;
    Attempt attempt_;
    quint64 nextAttempt_ = 1;
    quint64 generation_ = 0;  // bumped when BlueZ leaves: replies from before are stale
    QTimer deadline_;
};

} // namespace controllerd
