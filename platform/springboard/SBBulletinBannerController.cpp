#include "SBBulletinBannerController.h"

#include "BBBulletinRequest.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>

namespace {

QString text(const std::optional<std::string> &value) {
    return value ? QString::fromStdString(*value) : QString();
}

} // namespace

SBBulletinBannerController *SBBulletinBannerController::Metaclass::sharedInstance() const {
    return SBBulletinBannerController::sharedInstance();
}

SBBulletinBannerController::Metaclass &SBBulletinBannerController::classObject() {
    static Metaclass metaclass;
    return metaclass;
}

SBBulletinBannerController *SBBulletinBannerController::sharedInstance() {
    static SBBulletinBannerController *controller = new SBBulletinBannerController;
    return controller;
}

void SBBulletinBannerController::_queueBulletin(const BBBulletinRequest *request) {
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (request == nullptr || address == nullptr || *address == '\0')
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage notify = QDBusMessage::createMethodCall("org.freedesktop.Notifications",
                                                         "/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "Notify");
    // The bulletin's own title, if any, is the summary; a banner without one has none.
    notify << text(request->sectionID()) << 0u << QString() << text(request->title())
           << text(request->message()) << QStringList() << QVariantMap() << -1;
    // The main thread never waits for the server: the reply (its id) is of no use here.
    bus.call(notify, QDBus::NoBlock);
}
