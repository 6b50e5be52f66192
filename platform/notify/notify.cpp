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
    return bus.send(signal) ? NOTIFY_STATUS_OK : NOTIFY_STATUS_FAILED;
}
