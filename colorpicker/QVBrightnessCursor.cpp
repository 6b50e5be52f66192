#include "QVBrightnessCursor.h"
#include "CATransaction.h"
#include "QVDragHelpers.h"
#include "UIScreen.h"

using platform::UIColor;

QVBrightnessCursor::QVBrightnessCursor() : UIView(CGRectMake(0, 0, 28, 28)) {
    setBackgroundColor(UIColor::clearColor());
    setUserInteractionEnabled(false);

    backLayer_ = CALayer::layer();
    backLayer_->setFrame(bounds());
    backLayer_->setCornerRadius(frame().height() / 2);
    backLayer_->setBorderColor(UIColor::colorWithWhite(0.65, 1.0));
    backLayer_->setBorderWidth(1.0 / UIScreen::mainScreen().scale());
    backLayer_->setBackgroundColor(UIColor::colorWithWhite(1.0, 0.7));
    layer().addSublayer(backLayer_);

    colorLayer_ = CALayer::layer();
    colorLayer_->setFrame(bounds().insetBy(5.5, 5.5));
    colorLayer_->setCornerRadius(colorLayer_->frame().height() / 2);
    layer().addSublayer(colorLayer_);

    brightnessLabel_ = std::make_shared<UILabel>(CGRectMake(0, 0, 40, 16));
    brightnessLabel_->setCenter({frame().width() * 0.5 + 2, -20});
    brightnessLabel_->setBackgroundColor(UIColor::clearColor());
    brightnessLabel_->setTextAlignment(NSTextAlignment::Center);
    brightnessLabel_->setTextColor(UIColor::colorWithWhite(0.5, 1.0));
    brightnessLabel_->setAlpha(0);
    addSubview(brightnessLabel_);
}

void QVBrightnessCursor::setColor(const UIColor &color) {
    color_ = color;
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    colorLayer_->setBackgroundColor(color);
    CATransaction::commit();

    double h = 0, s = 0, b = 0, a = 0;
    color.getHue(&h, &s, &b, &a);
    const int percent = static_cast<int>(b * 100);
    const UIColor gray = UIColor::colorWithWhite(0.5, 1.0);
    brightnessLabel_->setAttributedText(
        {{QString::number(percent), 14, gray}, {QStringLiteral("%"), 12, gray}});
}

void QVBrightnessCursor::applyLook(bool editing) {
    brightnessLabel_->setAlpha(editing ? 1.0 : 0.0);
    brightnessLabel_->setTransform(editing ? CGAffineTransformIdentity
                                           : CGAffineTransformMakeTranslation(0, 10));
    qv_swellCursor(*backLayer_, *colorLayer_, editing);
}

void QVBrightnessCursor::setEditing(bool editing) {
    qv_animateEditing(editing_, editing, [this](bool look) { applyLook(look); });
}
