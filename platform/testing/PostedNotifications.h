#pragma once

#include "DarwinNotifyCenter.h"

#include <string>
#include <vector>

namespace platform::testing {

// The Darwin notifications of the given names that reach this process while the recorder lives,
// in the order they came (delivered from the event loop). Users link platform_notify.
class PostedNotifications {
public:
    explicit PostedNotifications(std::initializer_list<const char *> names) {
        for (const char *name : names)
            CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), this,
                                            record, name, nullptr,
                                            CFNotificationSuspensionBehaviorDeliverImmediately);
    }
    ~PostedNotifications() {
        CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), this);
    }
    PostedNotifications(const PostedNotifications &) = delete;
    PostedNotifications &operator=(const PostedNotifications &) = delete;

    std::vector<std::string> &names() { return names_; }

private:
    static void record(CFNotificationCenterRef, void *observer, CFNotificationName name,
                       const void *, const void *) {
        static_cast<PostedNotifications *>(observer)->names_.push_back(name);
    }

    std::vector<std::string> names_;
};

} // namespace platform::testing
