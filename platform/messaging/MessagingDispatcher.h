#pragma once

#include <QByteArray>
#include <QDBusAbstractAdaptor>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace platform::messaging {

// The one object a process exports on the session bus for all the centers it serves. A call
// names its center; the dispatcher hands it to that center's handler on the center's thread.
class MessagingDispatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "platform.messaging.Center")
  public:
    using Delivery = std::function<void(const std::string &messageName, const QByteArray &info)>;

    static MessagingDispatcher &shared();

    // `context` lives on the serving thread; `delivery` runs there and is dropped with it.
    bool addCenter(const std::string &center, QObject *context, Delivery delivery);
    void removeCenter(const std::string &center);

  public slots:
    Q_NOREPLY void Deliver(const QString &center, const QString &messageName,
                           const QByteArray &userInfo);

  private:
    MessagingDispatcher();
    bool exported_ = false;

    struct Entry {
        QObject *context;
        Delivery delivery;
    };
    std::mutex mutex_;
    std::map<std::string, Entry> centers_;
};

} // namespace platform::messaging
