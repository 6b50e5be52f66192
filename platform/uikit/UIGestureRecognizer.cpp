#include "UIGestureRecognizer.h"
#include "UIView.h"

#include <cmath>

CGPoint UIGestureRecognizer::locationOfTouch(std::size_t index, const UIView *view) const {
    if (index >= touches_.size())
        return {};
    return view ? view->convertPointFromView(touches_[index], nullptr) : touches_[index];
}

void UIGestureRecognizer::report(UIGestureRecognizerState state, std::vector<CGPoint> touches) {
    state_ = state;
    touches_ = std::move(touches);
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

void UIPanGestureRecognizer::touchEnded(CGPoint) {
    if (panning_)
        report(UIGestureRecognizerState::Ended, {});
    panning_ = false;
}
