#include "DarwinNotifyCenter.h"

#include "DarwinBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QThread>
#include <algorithm>
#include <cstdlib>

namespace platform {
namespace {

bool haveSessionBus() {
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    return address != nullptr && *address != '\0';
}

CFNotificationCenterRef centerRef() {
    return reinterpret_cast<CFNotificationCenterRef>(&DarwinNotifyCenter::shared());
}

} // namespace

DarwinNotifyCenter &DarwinNotifyCenter::shared() {
    static DarwinNotifyCenter *center = new DarwinNotifyCenter;
    return *center;
}

DarwinNotifyCenter::DarwinNotifyCenter() {
    if (auto *app = QCoreApplication::instance())
        moveToThread(app->thread());
}

void DarwinNotifyCenter::addObserver(const void *observer, CFNotificationCallback callback,
                                     const std::string &name) {
    auto &list = observers_[name];
    if (list.empty() && haveSessionBus()) {
        // The bus filters on the name, so a process only wakes for what it observes.
        QDBusConnection::sessionBus().connect(QString(), darwinbus::kPath, darwinbus::kInterface,
                                              darwinbus::kMember,
                                              QStringList{QString::fromStdString(name)},
                                              QStringLiteral("s"), this, SLOT(posted(QString)));
        // The rule is live once the bus has answered a later call on the same connection, so a
        // post made by another process after this returns is seen.
        QDBusConnection::sessionBus().call(
            QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "GetId"),
            QDBus::Block, 2000);
    }
    list.push_back({observer, callback});
}

void DarwinNotifyCenter::removeObserver(const void *observer, const std::string *name) {
    for (auto it = observers_.begin(); it != observers_.end();) {
        if (name && it->first != *name) {
            ++it;
            continue;
        }
        auto &list = it->second;
        std::erase_if(list, [&](const Observer &o) { return o.observer == observer; });
        if (list.empty()) {
            if (haveSessionBus())
                QDBusConnection::sessionBus().disconnect(
                    QString(), darwinbus::kPath, darwinbus::kInterface, darwinbus::kMember,
                    QStringList{QString::fromStdString(it->first)}, QStringLiteral("s"), this,
                    SLOT(posted(QString)));
            it = observers_.erase(it);
        } else {
            ++it;
        }
    }
}

void DarwinNotifyCenter::posted(const QString &name) {
    const std::string key = name.toStdString();
    auto it = observers_.find(key);
    if (it == observers_.end())
        return;
    // A callback may add or remove observers; call the ones registered when the post arrived.
    const std::vector<Observer> snapshot = it->second;
    for (const auto &entry : snapshot)
        entry.callback(centerRef(), const_cast<void *>(entry.observer), key.c_str(), nullptr,
                       nullptr);
}

} // namespace platform

extern "C" {

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void) {
    return platform::centerRef();
}

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void *observer,
                                     CFNotificationCallback callBack, CFNotificationName name,
                                     const void *, CFNotificationSuspensionBehavior) {
    // The Darwin center delivers by name only; a nameless observation has nothing to match.
    if (center != platform::centerRef() || callBack == nullptr || name == nullptr)
        return;
    platform::DarwinNotifyCenter::shared().addObserver(observer, callBack, name);
}

void CFNotificationCenterRemoveObserver(CFNotificationCenterRef center, const void *observer,
                                        CFNotificationName name, const void *) {
    if (center != platform::centerRef())
        return;
    std::string key = name ? name : "";
    platform::DarwinNotifyCenter::shared().removeObserver(observer, name ? &key : nullptr);
}

void CFNotificationCenterRemoveEveryObserver(CFNotificationCenterRef center, const void *observer) {
    if (center == platform::centerRef())
        platform::DarwinNotifyCenter::shared().removeObserver(observer, nullptr);
}
}
