#include "UIGestureRecognizer.h"
#include "UIView.h"

#include <cmath>

CGPoint UIGestureRecognizer::locationOfTouch(std::size_t index, const UIView *view) const {
    if (index >= touches_.size())
        return {};
    return view ? view->convertPointFromView(touches_[index], nullptr) : touches_[index];
}

CGPoint UIGestureRecognizer::locationInView(const UIView *view) const {
    return view ? view->convertPointFromView(location_, nullptr) : location_;
}

void UIGestureRecognizer::report(UIGestureRecognizerState state, std::vector<CGPoint> touches) {
    const CGPoint location = touches.empty() ? location_ : touches.front();
    report(state, std::move(touches), location);
}

void UIGestureRecognizer::report(UIGestureRecognizerState state, std::vector<CGPoint> touches,
                                 CGPoint location) {
    state_ = state;
    touches_ = std::move(touches);
    location_ = location;
    const auto actions = actions_;
    for (const auto &action : actions)
        action(*this);
}

namespace {
double distance(CGPoint a, CGPoint b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}
} // namespace

void UITapGestureRecognizer::touchBegan(CGPoint point) {
    start_ = point;
    failed_ = false;
}

void UITapGestureRecognizer::touchMoved(CGPoint point) {
    if (distance(point, start_) >= UIPanGestureRecognizer::kHysteresis)
        failed_ = true;
}

void UITapGestureRecognizer::touchEnded(CGPoint point) {
    if (!failed_ && distance(point, start_) < UIPanGestureRecognizer::kHysteresis)
        report(UIGestureRecognizerState::Ended, {point});
    failed_ = false;
}

void UIPanGestureRecognizer::touchBegan(CGPoint point) {
    start_ = point;
    panning_ = false;
}

void UIPanGestureRecognizer::touchMoved(CGPoint point) {
    if (!panning_) {
        if (distance(point, start_) < kHysteresis)
            return;
        panning_ = true;
        report(UIGestureRecognizerState::Began, {point});
        return;
    }
    report(UIGestureRecognizerState::Changed, {point});
}

void UIPanGestureRecognizer::touchEnded(CGPoint point) {
    // The finger may lift before any Changed (one quick move): the end carries where it lifted.
    if (panning_)
        report(UIGestureRecognizerState::Ended, {}, point);
    panning_ = false;
}
