#include "SBBulletinBannerController.h"

#include "BBBulletinRequest.h"
#include "SpringBoard.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>

namespace {

// A bulletin of no installed application comes from the one tweak this SpringBoard carries.
constexpr const char *kUnknownApplicationName = "Nimbrel";
constexpr const char *kUnknownApplicationIcon = "input-gaming"; // freedesktop icon name
// The phone's banners stay up about this long.
constexpr int kBannerTimeoutMs = 5000;

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
    // As on the phone, a banner is headed by its section's application, name and icon; a
    // bulletin's own title, if any, takes the heading's place.
    const QString section = text(request->sectionID());
    const auto application =
        request->sectionID() ? UIApp->installedApplication(*request->sectionID()) : std::nullopt;
    const QString name = application ? QString::fromStdString(application->displayName)
                                     : QString(kUnknownApplicationName);
    const QString icon = application && !application->iconPath.empty()
                             ? QString::fromStdString(application->iconPath)
                             : QString(kUnknownApplicationIcon);
    const QString title = text(request->title());
    QVariantMap hints;
    if (!section.isEmpty())
        hints.insert("desktop-entry", section);
    notify << name << 0u << icon << (title.isEmpty() ? name : title) << text(request->message())
           << QStringList() << hints << kBannerTimeoutMs;
    // The main thread never waits for the server: the reply (its id) is of no use here.
    bus.call(notify, QDBus::NoBlock);
}
