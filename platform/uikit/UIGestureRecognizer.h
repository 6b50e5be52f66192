#pragma once

#include "CGGeometry.h"

#include <functional>
#include <vector>

class UIView;

enum class UIGestureRecognizerState {
    Possible,
    Began,
    Changed,
    Ended,
    Cancelled,
    Failed,
};

// Turns touches on its view into a gesture with the platform's states and touch counts, and
// calls its actions on every state change it reports.
class UIGestureRecognizer {
public:
    using Action = std::function<void(UIGestureRecognizer &)>;

    explicit UIGestureRecognizer(Action action) { actions_.push_back(std::move(action)); }
    virtual ~UIGestureRecognizer() = default;

    void addTarget(Action action) { actions_.push_back(std::move(action)); }
    UIView *view() const { return view_; }
    UIGestureRecognizerState state() const { return state_; }
    std::size_t numberOfTouches() const { return touches_.size(); }
    // Location of a touch in `view`'s space (nullptr: the root's); (0, 0) for a missing touch.
    CGPoint locationOfTouch(std::size_t index, const UIView *view) const;
    // Where the gesture is in `view`'s space: its touch, or once the finger has lifted, the
    // place where it lifted.
    CGPoint locationInView(const UIView *view) const;

    // Touch input, in the root view's space, from the host or a test.
    virtual void touchBegan(CGPoint point) = 0;
    virtual void touchMoved(CGPoint point) = 0;
    virtual void touchEnded(CGPoint point) = 0;

    // Reports a state with these touches (root space) to the actions; `location` is the
    // gesture's place (the first touch, or where the last one lifted).
    void report(UIGestureRecognizerState state, std::vector<CGPoint> touches, CGPoint location);
    void report(UIGestureRecognizerState state, std::vector<CGPoint> touches);

private:
    friend class UIView;
    void attach(UIView *view) { view_ = view; }

    std::vector<Action> actions_;
    UIView *view_ = nullptr;
    UIGestureRecognizerState state_ = UIGestureRecognizerState::Possible;
    std::vector<CGPoint> touches_;
    CGPoint location_;
};

// A touch that lifts without travelling: Ended with its one touch.
class UITapGestureRecognizer : public UIGestureRecognizer {
public:
    using UIGestureRecognizer::UIGestureRecognizer;
    void touchBegan(CGPoint point) override;
    void touchMoved(CGPoint point) override;
    void touchEnded(CGPoint point) override;

private:
    CGPoint start_;
    bool failed_ = false;
};

// A touch that travels: Began and Changed with one touch, Ended once no touch is left.
class UIPanGestureRecognizer : public UIGestureRecognizer {
public:
    using UIGestureRecognizer::UIGestureRecognizer;
    void touchBegan(CGPoint point) override;
    void touchMoved(CGPoint point) override;
    void touchEnded(CGPoint point) override;

    static constexpr double kHysteresis = 10;

private:
    CGPoint start_;
    bool panning_ = false;
};
