#include "MessagingDispatcher.h"

#include "MessagingBus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QMetaObject>
#include <QPointer>

namespace platform::messaging {

MessagingDispatcher &MessagingDispatcher::shared() {
    // Lives as long as the process: queued calls may still name it while the process ends.
    static MessagingDispatcher *dispatcher = new MessagingDispatcher;
    return *dispatcher;
}

MessagingDispatcher::MessagingDispatcher() {
    // Calls arrive on the thread the dispatcher belongs to, which must run an event loop
    // whichever thread asked for it first; each center's own thread then takes over.
    if (auto *app = QCoreApplication::instance())
        moveToThread(app->thread());
}

bool MessagingDispatcher::addCenter(const std::string &center, QObject *context,
                                    Delivery delivery) {
    std::lock_guard lock(mutex_);
    if (!exported_) {
        exported_ = QDBusConnection::sessionBus().registerObject(kPath, this,
                                                                 QDBusConnection::ExportAllSlots);
        if (!exported_)
            return false;
    }
    return centers_.emplace(center, Entry{context, std::move(delivery)}).second;
}

void MessagingDispatcher::removeCenter(const std::string &center) {
    std::lock_guard lock(mutex_);
    centers_.erase(center);
}

void MessagingDispatcher::Deliver(const QString &center, const QString &messageName,
                                  const QByteArray &userInfo) {
    const std::string key = center.toStdString();
    QPointer<QObject> context;
    {
        std::lock_guard lock(mutex_);
        auto it = centers_.find(key);
        if (it == centers_.end())
            return;
        context = it->second.context;
    }
    if (!context)
        return;
    // The entry is looked up again on the serving thread: the center may have stopped since.
    QMetaObject::invokeMethod(context.data(), [this, key, context, messageName, userInfo] {
        Delivery delivery;
        {
            std::lock_guard lock(mutex_);
            auto it = centers_.find(key);
            if (it == centers_.end() || it->second.context != context.data())
                return;
            delivery = it->second.delivery;
        }
        delivery(messageName.toStdString(), userInfo);
    });
}

} // namespace platform::messaging
