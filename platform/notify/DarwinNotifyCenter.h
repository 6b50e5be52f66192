#pragma once

#include <QObject>
#include <QString>
#include <map>
#include <string>
#include <vector>

// The Darwin notify center of the platform's notification-center API: observers by name,
// called on the main thread for every notify_post of that name by any process on the bus.
typedef struct __CFNotificationCenter *CFNotificationCenterRef;
typedef const char *CFNotificationName;
typedef void (*CFNotificationCallback)(CFNotificationCenterRef center, void *observer,
                                       CFNotificationName name, const void *object,
                                       const void *userInfo);
enum CFNotificationSuspensionBehavior {
    CFNotificationSuspensionBehaviorDrop = 1,
    CFNotificationSuspensionBehaviorCoalesce = 2,
    CFNotificationSuspensionBehaviorHold = 3,
    CFNotificationSuspensionBehaviorDeliverImmediately = 4,
};

extern "C" {
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void);
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void *observer,
                                     CFNotificationCallback callBack, CFNotificationName name,
                                     const void *object,
                                     CFNotificationSuspensionBehavior suspensionBehavior);
void CFNotificationCenterRemoveObserver(CFNotificationCenterRef center, const void *observer,
                                        CFNotificationName name, const void *object);
void CFNotificationCenterRemoveEveryObserver(CFNotificationCenterRef center, const void *observer);
}

namespace platform {

class DarwinNotifyCenter : public QObject {
    Q_OBJECT
public:
    static DarwinNotifyCenter &shared();

    void addObserver(const void *observer, CFNotificationCallback callback,
                     const std::string &name);
    void removeObserver(const void *observer, const std::string *name);

private slots:
    void posted(const QString &name);

private:
    DarwinNotifyCenter();

    struct Observer {
        const void *observer;
        CFNotificationCallback callback;
    };
    std::map<std::string, std::vector<Observer>> observers_;
};

} // namespace platform
