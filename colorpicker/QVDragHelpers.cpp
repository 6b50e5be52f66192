#include "QVDragHelpers.h"
#include "CALayer.h"
#include "UIGestureRecognizer.h"
#include "UIView.h"

std::optional<QVPanStep> qv_panStep(const UIGestureRecognizer &recognizer, const UIView *view) {
    const auto state = recognizer.state();
    if (state != UIGestureRecognizerState::Changed && state != UIGestureRecognizerState::Ended)
        return std::nullopt;
    const bool touching = recognizer.numberOfTouches() >= 1;
    return QVPanStep{state == UIGestureRecognizerState::Ended, touching,
                     touching ? recognizer.locationOfTouch(0, view)
                              : recognizer.locationInView(view)};
}

void qv_swellCursor(CALayer &ring, CALayer &disc, bool editing) {
    ring.setTransform(editing ? CATransform3DMakeScale(1.6, 1.6, 1) : CATransform3DIdentity);
    disc.setTransform(editing ? CATransform3DMakeScale(1.4, 1.4, 1) : CATransform3DIdentity);
}

void qv_animateEditing(bool &editingState, bool editing,
                       const std::function<void(bool)> &applyLook) {
    if (editing == editingState)
        return;
    const bool old = editingState;
    editingState = editing;
    applyLook(old);
    UIView::animateWithDuration(0.1, [applyLook, editing] { applyLook(editing); });
}
