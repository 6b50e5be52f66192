#pragma once

#include "UIView.h"

#include <functional>
#include <vector>

// The platform's control-event bits.
enum UIControlEvents : unsigned {
    UIControlEventValueChanged = 1u << 12,
    UIControlEventEditingDidEnd = 1u << 18,
};

// A view that sends control events to target–action pairs. A target is an identity (usually the
// object the action belongs to) so that it can take its actions away again.
class UIControl : public UIView {
public:
    using Action = std::function<void(UIControl &sender)>;

    using UIView::UIView;

    void addTarget(const void *target, Action action, unsigned events);
    void removeTarget(const void *target);
    // Calls, in the order they were added, the actions registered for any of the events.
    void sendActionsForControlEvents(unsigned events);
    std::size_t targetCount() const { return entries_.size(); }

private:
    struct Entry {
        const void *target;
        Action action;
        unsigned events;
    };
    std::vector<Entry> entries_;
};
