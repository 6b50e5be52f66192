#include "notify.h"

#include "DarwinBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdlib>

extern "C" uint32_t notify_post(const char *name) {
    if (name == nullptr || *name == '\0')
        return NOTIFY_STATUS_INVALID_NAME;
    // Without an address libdbus would try to autolaunch a bus; the device has no such thing.
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0')
        return NOTIFY_STATUS_FAILED;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return NOTIFY_STATUS_FAILED;
    QDBusMessage signal = QDBusMessage::createSignal(
        platform::darwinbus::kPath, platform::darwinbus::kInterface, platform::darwinbus::kMember);
    signal << QString::fromUtf8(name);
    if (!bus.send(signal))
        return NOTIFY_STATUS_FAILED;
    // The signal is only queued so far; a process that posts and exits would lose it. The
    // bus answers calls in order, so once it has answered this one the signal is on its way.
    QDBusMessage reply =
        bus.call(QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", "GetId"),
                 QDBus::Block, 1000);
    return reply.type() == QDBusMessage::ReplyMessage ? NOTIFY_STATUS_OK : NOTIFY_STATUS_FAILED;
}
