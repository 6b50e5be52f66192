#include "UIControl.h"

#include <algorithm>

void UIControl::addTarget(const void *target, Action action, unsigned events) {
    if (action && events)
        entries_.push_back({target, std::move(action), events});
}

void UIControl::removeTarget(const void *target) {
    std::erase_if(entries_, [target](const Entry &e) { return e.target == target; });
}

void UIControl::sendActionsForControlEvents(unsigned events) {
    // The list may change while actions run (a target removing itself).
    const auto entries = entries_;
    auto keep = shared_from_this();
    for (const auto &entry : entries)
        if (entry.events & events)
            entry.action(*this);
}
