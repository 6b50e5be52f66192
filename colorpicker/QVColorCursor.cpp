#include "QVColorCursor.h"
#include "CATransaction.h"
#include "QVDragHelpers.h"
#include "UIScreen.h"

using platform::UIColor;

namespace {
void styleRing(CALayer &ring, bool dark) {
    if (dark) {
        ring.setBorderColor(UIColor::colorWithWhite(0, 0.3));
        ring.setBackgroundColor(UIColor::colorWithWhite(0, 0.2));
    } else {
        ring.setBorderColor(UIColor::colorWithWhite(0.65, 1.0));
        ring.setBackgroundColor(UIColor::colorWithWhite(1.0, 0.7));
    }
}
} // namespace

std::shared_ptr<QVColorCursor> QVColorCursor::colorCursorWithPoint(CGPoint point) {
    return std::make_shared<QVColorCursor>(point);
}

QVColorCursor::QVColorCursor(CGPoint point) : UIView({point, cursorSize()}) {
    setBackgroundColor(UIColor::clearColor());
    setUserInteractionEnabled(false);
    setColor(UIColor::whiteColor()); // no layers yet: only the colour is kept

    backLayer_ = CALayer::layer();
    backLayer_->setFrame(bounds());
    backLayer_->setCornerRadius(frame().height() / 2);
    backLayer_->setBorderWidth(1.0 / UIScreen::mainScreen().scale());
    styleRing(*backLayer_, false);
    layer().addSublayer(backLayer_);

    colorLayer_ = CALayer::layer();
    colorLayer_->setFrame(
        backLayer_->frame().insetBy(kQVColorCursorRingInset, kQVColorCursorRingInset));
    colorLayer_->setCornerRadius(colorLayer_->frame().height() / 2);
    layer().addSublayer(colorLayer_);
    // The flag tells which look the ring has: the light one, whatever the first colour wanted.
    grayCursor_ = false;
}

void QVColorCursor::setColor(const UIColor &color) {
    color_ = color;
    double h = 0, s = 0, v = 0, a = 0;
    color.getHue(&h, &s, &v, &a);
    const bool wantsGray = v > 0.7 && s < 0.4;
    if (!backLayer_) {
        grayCursor_ = wantsGray;
        return;
    }
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    colorLayer_->setBackgroundColor(color);
    if (wantsGray != isGrayCursor()) {
        styleRing(*backLayer_, wantsGray);
        ++ringRestyles_;
        setGrayCursor(wantsGray);
    }
    CATransaction::commit();
    setNeedsDisplay();
}

void QVColorCursor::applyLook(bool editing) {
    qv_swellCursor(*backLayer_, *colorLayer_, editing);
}

void QVColorCursor::setEditing(bool editing) {
    qv_animateEditing(editing_, editing, [this](bool look) { applyLook(look); });
}
