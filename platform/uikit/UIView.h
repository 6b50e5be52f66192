#pragma once

#include "CALayer.h"
#include "CGGeometry.h"
#include "UIColor.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class UIGestureRecognizer;
struct CGContext;

// A constraint placed by a client; the views only need to know whether any exist.
struct NSLayoutConstraint {
    std::string description;
};

// A rectangle of the interface backed by a layer: frame, transform and alpha are the layer's.
// Views are shared objects; a superview holds its subviews, a subview's layer is a sublayer of
// its superview's layer.
class UIView : public std::enable_shared_from_this<UIView> {
public:
    UIView();
    explicit UIView(CGRect frame);
    virtual ~UIView();
    UIView(const UIView &) = delete;
    UIView &operator=(const UIView &) = delete;

    CALayer &layer() const { return *layer_; }
    const std::shared_ptr<CALayer> &layerPointer() const { return layer_; }

    CGRect frame() const { return layer_->frame(); }
    virtual void setFrame(CGRect frame);
    CGRect bounds() const { return {{0, 0}, frame().size}; }
    CGPoint center() const { return {frame().midX(), frame().midY()}; }
    void setCenter(CGPoint center);
    CGAffineTransform transform() const { return transform_; }
    void setTransform(const CGAffineTransform &transform);
    double alpha() const { return layer_->opacity(); }
    void setAlpha(double alpha) { layer_->setOpacity(static_cast<float>(alpha)); }
    std::optional<platform::UIColor> backgroundColor() const { return layer_->backgroundColor(); }
    void setBackgroundColor(std::optional<platform::UIColor> color) {
        layer_->setBackgroundColor(color);
    }
    bool isUserInteractionEnabled() const { return userInteractionEnabled_; }
    void setUserInteractionEnabled(bool enabled) { userInteractionEnabled_ = enabled; }

    const std::vector<std::shared_ptr<UIView>> &subviews() const { return subviews_; }
    UIView *superview() const { return superview_; }
    void addSubview(const std::shared_ptr<UIView> &view);
    void removeFromSuperview();

    const std::vector<NSLayoutConstraint> &constraints() const { return constraints_; }
    void addConstraint(NSLayoutConstraint constraint) {
        constraints_.push_back(std::move(constraint));
    }

    void addGestureRecognizer(const std::shared_ptr<UIGestureRecognizer> &recognizer);
    const std::vector<std::shared_ptr<UIGestureRecognizer>> &gestureRecognizers() const {
        return recognizers_;
    }

    virtual void layoutSubviews() {}
    void setNeedsLayout() { needsLayout_ = true; }
    // Lays out this view (when it needs it) and then its subviews, top down.
    void layoutIfNeeded();
    void setNeedsDisplay();
    int displayRequests() const { return displayRequests_; }
    virtual CGSize intrinsicContentSize() const { return {-1, -1}; }
    void invalidateIntrinsicContentSize() {}
    virtual UIEdgeInsets alignmentRectInsets() const { return {}; }
    virtual CGRect frameForAlignmentRect(CGRect rect) const;
    virtual CGRect alignmentRectForFrame(CGRect frame) const;

    // Points between this view and another of the same tree (nullptr: the root's space).
    CGPoint convertPointFromView(CGPoint point, const UIView *view) const;
    CGPoint convertPointToView(CGPoint point, const UIView *view) const;
    // The deepest interactive view under a point of this view's space, or nullptr.
    UIView *hitTest(CGPoint point);

    // Runs the changes, which take effect at once; the duration is recorded so that callers
    // and tests can tell an animation was asked for.
    static void animateWithDuration(double duration, const std::function<void()> &animations);
    static int animationCount();
    static double lastAnimationDuration();

protected:
    // The view's own drawing, between its background and its subviews.
    virtual void drawRect(CGContext *, CGRect) {}
    void enableDrawRect();

private:
    std::shared_ptr<CALayer> layer_;
    CGAffineTransform transform_;
    bool userInteractionEnabled_ = true;
    bool needsLayout_ = true;
    int displayRequests_ = 0;
    std::vector<std::shared_ptr<UIView>> subviews_;
    UIView *superview_ = nullptr;
    std::vector<NSLayoutConstraint> constraints_;
    std::vector<std::shared_ptr<UIGestureRecognizer>> recognizers_;
};
