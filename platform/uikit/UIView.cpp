#include "UIView.h"
#include "UIGestureRecognizer.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<int> animations{0};
std::atomic<double> lastDuration{0};
} // namespace

UIView::UIView() : layer_(CALayer::layer()) {}

UIView::UIView(CGRect frame) : UIView() {
    layer_->setFrame(frame);
}

UIView::~UIView() {
    layer_->setDrawDelegate({});
    for (auto &view : subviews_)
        view->superview_ = nullptr;
}

void UIView::setFrame(CGRect frame) {
    if (frame.size != this->frame().size)
        needsLayout_ = true;
    layer_->setFrame(frame);
}

void UIView::setCenter(CGPoint center) {
    CGRect f = frame();
    f.origin = {center.x - f.width() / 2, center.y - f.height() / 2};
    layer_->setFrame(f);
}

void UIView::setTransform(const CGAffineTransform &transform) {
    transform_ = transform;
    layer_->setTransform({transform.a, transform.d, 1, transform.tx, transform.ty, 0});
}

void UIView::addSubview(const std::shared_ptr<UIView> &view) {
    if (!view || view.get() == this)
        return;
    auto keep = view;
    keep->removeFromSuperview();
    subviews_.push_back(keep);
    keep->superview_ = this;
    layer_->addSublayer(keep->layer_);
}

void UIView::removeFromSuperview() {
    if (!superview_)
        return;
    layer_->removeFromSuperlayer();
    auto &siblings = superview_->subviews_;
    auto keep = shared_from_this();
    siblings.erase(std::remove(siblings.begin(), siblings.end(), keep), siblings.end());
    superview_ = nullptr;
}

void UIView::addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer> &recognizer) {
    if (!recognizer)
        return;
    recognizer->attach(this);
    recognizers_.push_back(recognizer);
}

void UIView::layoutIfNeeded() {
    if (needsLayout_) {
        needsLayout_ = false;
        layoutSubviews();
    }
    const auto children = subviews_; // layout may add subviews
    for (const auto &view : children)
        view->layoutIfNeeded();
}

void UIView::setNeedsDisplay() {
    ++displayRequests_;
    layer_->setNeedsDisplay();
}

CGRect UIView::frameForAlignmentRect(CGRect rect) const {
    const UIEdgeInsets i = alignmentRectInsets();
    return {{rect.minX() - i.left, rect.minY() - i.top},
            {rect.width() + i.left + i.right, rect.height() + i.top + i.bottom}};
}

CGRect UIView::alignmentRectForFrame(CGRect frame) const {
    const UIEdgeInsets i = alignmentRectInsets();
    return {{frame.minX() + i.left, frame.minY() + i.top},
            {frame.width() - i.left - i.right, frame.height() - i.top - i.bottom}};
}

namespace {
// Origin of a view's space in its root's space (translations only; scale is a drawing effect).
CGPoint originInRoot(const UIView *view) {
    CGPoint p;
    for (const UIView *v = view; v && v->superview(); v = v->superview()) {
        p.x += v->frame().minX() + v->transform().tx;
        p.y += v->frame().minY() + v->transform().ty;
    }
    return p;
}
} // namespace

CGPoint UIView::convertPointFromView(CGPoint point, const UIView *view) const {
    const CGPoint from = view ? originInRoot(view) : CGPoint{};
    const CGPoint to = originInRoot(this);
    return {point.x + from.x - to.x, point.y + from.y - to.y};
}

CGPoint UIView::convertPointToView(CGPoint point, const UIView *view) const {
    const CGPoint from = originInRoot(this);
    const CGPoint to = view ? originInRoot(view) : CGPoint{};
    return {point.x + from.x - to.x, point.y + from.y - to.y};
}

UIView *UIView::hitTest(CGPoint point) {
    if (!userInteractionEnabled_ || alpha() <= 0.01 || !bounds().contains(point))
        return nullptr;
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it) {
        UIView *child = it->get();
        const CGPoint local{point.x - child->frame().minX() - child->transform().tx,
                            point.y - child->frame().minY() - child->transform().ty};
        if (UIView *hit = child->hitTest(local))
            return hit;
    }
    return this;
}

void UIView::animateWithDuration(double duration, const std::function<void()> &changes) {
    ++animations;
    lastDuration.store(duration);
    if (changes)
        changes();
}

int UIView::animationCount() {
    return animations.load();
}

double UIView::lastAnimationDuration() {
    return lastDuration.load();
}

void UIView::enableDrawRect() {
    layer_->setDrawDelegate([this](CGContext *context, CGRect rect) { drawRect(context, rect); });
}
