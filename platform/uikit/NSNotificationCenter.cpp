#include "NSNotificationCenter.h"

#include "Selector.h"

#include <algorithm>

NSNotificationCenter &NSNotificationCenter::defaultCenter() {
    static NSNotificationCenter center;
    return center;
}

void NSNotificationCenter::addObserver(QObject *observer, const std::string &selector,
                                       const QString &name, const void *object) {
    if (observer == nullptr)
        return;
    entries_.push_back({observer, observer, selector, name, object});
}

void NSNotificationCenter::removeObserver(QObject *observer) {
    std::erase_if(entries_, [observer](const Entry &e) { return e.key == observer; });
}

void NSNotificationCenter::postNotificationName(const QString &name, const void *object) {
    // Observers may add or remove observers while they run: deliver to a copy.
    const std::vector<Entry> entries = entries_;
    for (const Entry &entry : entries) {
        if (entry.name != name || (entry.object != nullptr && entry.object != object))
            continue;
        if (entry.observer)
            platform::performSelector(entry.observer.data(), entry.selector);
    }
    std::erase_if(entries_, [](const Entry &e) { return e.observer.isNull(); });
}
