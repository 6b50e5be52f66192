#include "CPDistributedMessagingCenter.h"

#include "MessagingBus.h"
#include "MessagingDispatcher.h"
#include "rocketbootstrap.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <map>

using platform::PlistValue;
namespace messaging = platform::messaging;

struct CPDistributedMessagingCenter::Private {
    std::string name;
    std::optional<std::string> busName;
    bool bootstrap = false;
    std::map<std::string, Handler> handlers;
    std::unique_ptr<QObject> context; // present while serving; lives on the serving thread
};

namespace {

bool nameHasOwner(QDBusConnection &connection, const std::string &name) {
    QDBusConnectionInterface *bus = connection.interface();
    if (bus == nullptr)
        return false;
    QDBusReply<bool> reply = bus->isServiceRegistered(QString::fromStdString(name));
    return reply.isValid() && reply.value();
}

bool unlocked(QDBusConnection connection, const std::string &center) {
    auto unlockName = messaging::unlockBusName(center);
    return unlockName && nameHasOwner(connection, *unlockName);
}

} // namespace

std::optional<PlistValue::Dictionary>
CPDistributedMessagingCenter::userInfoFromBytes(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return PlistValue::Dictionary{};
    auto value = platform::plistFromBytes(bytes);
    if (!value || !value->dictionary())
        return std::nullopt;
    return std::move(*value->dictionary());
}

std::shared_ptr<CPDistributedMessagingCenter>
CPDistributedMessagingCenter::centerNamed(const std::string &name) {
    return std::shared_ptr<CPDistributedMessagingCenter>(new CPDistributedMessagingCenter(name));
}

CPDistributedMessagingCenter::CPDistributedMessagingCenter(const std::string &name)
    : d_(std::make_unique<Private>()) {
    d_->name = name;
    d_->busName = messaging::centerBusName(name);
}

CPDistributedMessagingCenter::~CPDistributedMessagingCenter() {
    stopServer();
}

const std::string &CPDistributedMessagingCenter::name() const {
    return d_->name;
}

void CPDistributedMessagingCenter::registerForMessageName(const std::string &messageName,
                                                          Handler handler) {
    d_->handlers[messageName] = std::move(handler);
}

void CPDistributedMessagingCenter::unregisterForMessageName(const std::string &messageName) {
    d_->handlers.erase(messageName);
}

void CPDistributedMessagingCenter::runServerOnCurrentThread() {
    if (d_->context || !d_->busName || !messaging::haveSessionBus())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    auto context = std::make_unique<QObject>();
    Private *d = d_.get();
    auto delivery = [d](const std::string &messageName, const QByteArray &bytes) {
        // A bootstrap server takes nothing while its name is locked, whoever sends.
        if (d->bootstrap && !unlocked(QDBusConnection::sessionBus(), d->name))
            return;
        auto it = d->handlers.find(messageName);
        if (it == d->handlers.end())
            return;
        auto userInfo = userInfoFromBytes(
            std::span(reinterpret_cast<const std::uint8_t *>(bytes.constData()), bytes.size()));
        if (!userInfo)
            return; // not a userInfo this side can read: dropped, like a lost message
        // The handler may unregister itself; keep it alive for the call.
        Handler handler = it->second;
        handler(messageName, *userInfo);
    };
    if (!messaging::MessagingDispatcher::shared().addCenter(d_->name, context.get(),
                                                            std::move(delivery)))
        return;
    if (!bus.registerService(QString::fromStdString(*d_->busName))) {
        messaging::MessagingDispatcher::shared().removeCenter(d_->name);
        return;
    }
    d_->context = std::move(context);
}

void CPDistributedMessagingCenter::stopServer() {
    if (!d_->context)
        return;
    messaging::MessagingDispatcher::shared().removeCenter(d_->name);
    QDBusConnection::sessionBus().unregisterService(QString::fromStdString(*d_->busName));
    d_->context.reset();
}

bool CPDistributedMessagingCenter::isServing() const {
    return d_->context != nullptr;
}

bool CPDistributedMessagingCenter::sendMessageName(const std::string &messageName,
                                                   const PlistValue::Dictionary &userInfo) {
    if (!d_->busName || !messaging::haveSessionBus())
        return false;
    QDBusConnection connection = messaging::clientConnection();
    if (!connection.isConnected())
        return false;
    // Locked: the message goes nowhere, as it would find no server through the bootstrap.
    if (d_->bootstrap && !unlocked(connection, d_->name))
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromStdString(*d_->busName), messaging::kPath,
                                       messaging::kInterface, messaging::kMember);
    call.setAutoStartService(false);
    const auto bytes = platform::plistToBytes(PlistValue(userInfo), platform::PlistFormat::Binary);
    call << QString::fromStdString(d_->name) << QString::fromStdString(messageName)
         << QByteArray(reinterpret_cast<const char *>(bytes.data()),
                       static_cast<qsizetype>(bytes.size()));
    // One way: the bus drops it when nobody owns the name.
    return connection.send(call);
}

void rocketbootstrap_distributedmessagingcenter_apply(CPDistributedMessagingCenter *center) {
    if (center != nullptr)
        center->d_->bootstrap = true;
}
