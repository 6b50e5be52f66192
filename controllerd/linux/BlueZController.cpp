#include "BlueZController.h"

#include "BlueZBus.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QSet>
#include <algorithm>

namespace controllerd {
namespace {

using namespace platform::bluez;

QString noService() { return QStringLiteral("no Bluetooth service (org.bluez) on the system bus"); }
QString serviceLeft() {
    return QStringLiteral("the Bluetooth service (org.bluez) left the system bus while connecting");
}

QString seconds(std::chrono::milliseconds timeout) {
    return QString::number(static_cast<double>(timeout.count()) / 1000.0) + QStringLiteral(" s");
}

} // namespace

BlueZController::BlueZController(QObject *parent)
    : BlueZController(QDBusConnection::systemBus(), parent) {}

BlueZController::BlueZController(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), bus_(bus) {
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] {
        finish(false, QStringLiteral("the controller %1 did not connect within %2")
                          .arg(attempt_.address, seconds(std::chrono::milliseconds(
                                                     deadline_.interval()))));
    });
    if (!bus_.isConnected())
        return;
    follow(bus_, this);
    onServiceRegistered();
}

BlueZController::~BlueZController() = default;

void BlueZController::connectController(const QString &address,
                                        std::chrono::milliseconds timeout, Result done) {
    if (attempt_.id != 0) {
        failLater(std::move(done), QStringLiteral("already connecting to ") + attempt_.address);
        return;
    }
    if (!bus_.isConnected()) {
        failLater(std::move(done),
                  QStringLiteral("no system bus: ") + bus_.lastError().message());
        return;
    }
    attempt_ = Attempt{nextAttempt_++, address.toUpper(), QString(), std::move(done)};
    deadline_.start(std::max(timeout, std::chrono::milliseconds(0)));
    const quint64 id = attempt_.id;
    readObjects([this, id](const QDBusMessage &reply) { startConnect(id, reply); });
}

void BlueZController::disconnectController(Result done) {
    const QString path = !connectedPath_.isEmpty() ? connectedPath_ : attempt_.path;
    if (path.isEmpty() || !bus_.isConnected()) {
        failLater(std::move(done), QStringLiteral("no controller is connected"));
        return;
    }
    const QString address = devices_.value(path).address;
    if (attempt_.id != 0)
        finish(false, QStringLiteral("the connection was cancelled"));
    watchReply(QDBusMessage::createMethodCall(kService, path, kDevice, QStringLiteral("Disconnect")),
               [done = std::move(done), address](const QDBusMessage &reply) {
                   if (!done)
                       return;
                   if (reply.type() == QDBusMessage::ErrorMessage &&
                       reply.errorName() != QLatin1String("org.bluez.Error.NotConnected"))
                       done(false, QStringLiteral("BlueZ would not disconnect %1: %2")
                                       .arg(address, describe(reply)));
                   else
                       done(true, QString());
               });
}

void BlueZController::watchReply(const QDBusMessage &call,
                                 std::function<void(const QDBusMessage &)> then) {
    auto *watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [then = std::move(then)](QDBusPendingCallWatcher *finished) {
                finished->deleteLater();
                then(finished->reply());
            });
}

void BlueZController::readObjects(std::function<void(const QDBusMessage &)> then) {
    watchReply(QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kObjectManager,
                                              QStringLiteral("GetManagedObjects")),
               std::move(then));
}

void BlueZController::storeObjects(const QDBusMessage &reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return;
    const ManagedObjects objects = managedObjects(reply);
    QSet<QString> seen;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        seen.insert(it.key().path());
        storeInterfaces(it.key().path(), it.value());
    }
    for (const QString &path : devices_.keys())
        if (!seen.contains(path))
            forgetDevice(path);
    for (const QString &path : adapters_.keys())
        if (!seen.contains(path))
            adapters_.remove(path);
}

void BlueZController::storeInterfaces(const QString &path, const InterfaceMap &interfaces) {
    if (interfaces.contains(kAdapter))
        adapters_[path] = interfaces.value(kAdapter).value(QStringLiteral("Powered")).toBool();
    if (!interfaces.contains(kDevice))
        return;
    const QVariantMap properties = interfaces.value(kDevice);
    Device &device = devices_[path];
    device.address = properties.value(QStringLiteral("Address")).toString().toUpper();
    device.adapter = properties.value(QStringLiteral("Adapter")).value<QDBusObjectPath>().path();
    if (device.adapter.isEmpty())
        device.adapter = path.section(u'/', 0, -2);
    device.paired = properties.value(QStringLiteral("Paired")).toBool();
    setConnected(path, properties.value(QStringLiteral("Connected")).toBool());
}

void BlueZController::startConnect(quint64 id, const QDBusMessage &reply) {
    if (id != attempt_.id)
        return;
    if (reply.type() == QDBusMessage::ErrorMessage) {
        finish(false, serviceGone(reply)
                          ? noService()
                          : QStringLiteral("cannot read BlueZ's objects: ") + describe(reply));
        return;
    }
    storeObjects(reply);
    if (adapters_.isEmpty()) {
        finish(false, QStringLiteral("no Bluetooth adapter"));
        return;
    }
    QString path;
    for (auto it = devices_.cbegin(); it != devices_.cend(); ++it)
        if (it->paired && it->address.compare(attempt_.address, Qt::CaseInsensitive) == 0)
            path = it.key();
    if (path.isEmpty()) {
        finish(false, QStringLiteral("no paired controller %1: pair it first").arg(attempt_.address));
        return;
    }
    const Device device = devices_.value(path);
    if (!adapters_.value(device.adapter, false)) {
        finish(false, QStringLiteral("the Bluetooth adapter is off"));
        return;
    }
    attempt_.path = path;
    if (device.connected) {
        finish(true, QString());
        return;
    }
    // Trusted lets the controller reconnect by itself later (the PS button) without an agent.
    QDBusMessage trust = QDBusMessage::createMethodCall(kService, path, kProperties,
                                                        QStringLiteral("Set"));
    trust << kDevice << QStringLiteral("Trusted") << QVariant::fromValue(QDBusVariant(true));
    watchReply(trust, [this, id](const QDBusMessage &answer) {
        if (id != attempt_.id)
            return;
        if (answer.type() == QDBusMessage::ErrorMessage)
            finish(false, serviceGone(answer)
                              ? serviceLeft()
                              : QStringLiteral("BlueZ would not trust %1: %2")
                                    .arg(attempt_.address, describe(answer)));
        else
            callConnect(id);
    });
}

void BlueZController::callConnect(quint64 id) {
    watchReply(QDBusMessage::createMethodCall(kService, attempt_.path, kDevice,
                                              QStringLiteral("Connect")),
               [this, id](const QDBusMessage &reply) {
                   if (id != attempt_.id)
                       return;
                   if (reply.type() != QDBusMessage::ErrorMessage ||
                       reply.errorName() == QLatin1String("org.bluez.Error.AlreadyConnected"))
                       checkConnected(id);
                   else if (serviceGone(reply))
                       finish(false, serviceLeft());
                   else
                       finish(false,
                              QStringLiteral("BlueZ refused the connection: ") + describe(reply));
               });
}

// Connect's reply alone proves nothing: success waits for Connected, read here in case its
// PropertiesChanged came before we knew which device to watch.
void BlueZController::checkConnected(quint64 id) {
    if (devices_.value(attempt_.path).connected) {
        finish(true, QString());
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(kService, attempt_.path, kProperties,
                                                      QStringLiteral("Get"));
    get << kDevice << QStringLiteral("Connected");
    const QString path = attempt_.path;
    watchReply(get, [this, id, path](const QDBusMessage &reply) {
        if (id != attempt_.id || reply.type() != QDBusMessage::ReplyMessage ||
            reply.arguments().isEmpty())
            return;
        if (reply.arguments().first().value<QDBusVariant>().variant().toBool())
            setConnected(path, true);
    });
}

void BlueZController::finish(bool ok, const QString &error) {
    deadline_.stop();
    Result done = std::move(attempt_.done);
    attempt_ = Attempt{};
    if (done)
        done(ok, error);
}

void BlueZController::failLater(Result done, const QString &error) {
    if (!done)
        return;
    QTimer::singleShot(0, this, [done = std::move(done), error] { done(false, error); });
}

void BlueZController::setConnected(const QString &path, bool connected) {
    auto it = devices_.find(path);
    if (it == devices_.end())
        return;
    const bool changed = it->connected != connected;
    it->connected = connected;
    const QString address = it->address;
    if (changed && it->paired) {
        if (connected) {
            connectedPath_ = path;
            connectedAddress_ = address;
            emit controllerConnected(address);
        } else {
            if (path == connectedPath_) {
                connectedPath_.clear();
                connectedAddress_.clear();
                for (auto other = devices_.cbegin(); other != devices_.cend(); ++other)
                    if (other->paired && other->connected) {
                        connectedPath_ = other.key();
                        connectedAddress_ = other->address;
                    }
            }
            emit controllerDisconnected(address);
        }
    }
    if (connected && attempt_.id != 0 && path == attempt_.path)
        finish(true, QString());
}

void BlueZController::forgetDevice(const QString &path) {
    setConnected(path, false);
    devices_.remove(path);
}

void BlueZController::onPropertiesChanged(const QDBusMessage &message) {
    QString interface;
    QVariantMap changed;
    if (!propertiesChanged(message, interface, changed))
        return;
    const QString path = message.path();
    if (interface == kAdapter && adapters_.contains(path) &&
        changed.contains(QStringLiteral("Powered")))
        adapters_[path] = changed.value(QStringLiteral("Powered")).toBool();
    if (interface != kDevice || !devices_.contains(path))
        return;
    if (changed.contains(QStringLiteral("Paired")))
        devices_[path].paired = changed.value(QStringLiteral("Paired")).toBool();
    if (changed.contains(QStringLiteral("Connected")))
        setConnected(path, changed.value(QStringLiteral("Connected")).toBool());
}

void BlueZController::onInterfacesAdded(const QDBusMessage &message) {
    QString path;
    InterfaceMap interfaces;
    if (interfacesAdded(message, path, interfaces))
        storeInterfaces(path, interfaces);
}

void BlueZController::onInterfacesRemoved(const QDBusMessage &message) {
    QString path;
    QStringList interfaces;
    if (!interfacesRemoved(message, path, interfaces))
        return;
    if (interfaces.contains(kDevice))
        forgetDevice(path);
    if (interfaces.contains(kAdapter))
        adapters_.remove(path);
}

void BlueZController::onServiceRegistered() {
    const quint64 generation = generation_;
    readObjects([this, generation](const QDBusMessage &reply) {
        if (generation == generation_)
            storeObjects(reply);
    });
}

void BlueZController::onServiceUnregistered() {
    ++generation_;
    adapters_.clear();
    for (const QString &path : devices_.keys())
        forgetDevice(path);
    // Still reading the objects: that call's error answers, naming BlueZ absent rather than
    // gone (it may have left before the connect began).
    if (attempt_.id != 0 && !attempt_.path.isEmpty())
        finish(false, serviceLeft());
}

} // namespace controllerd
