#include "QVColorInfoView.h"
#include "UIGraphics.h"
#include "UIScreen.h"

#include <cmath>

using platform::UIColor;

QVColorInfoView::QVColorInfoView() : QVColorInfoView(CGRectZero) {}

QVColorInfoView::QVColorInfoView(CGRect frame) : UIView(frame) {
    init();
}

void QVColorInfoView::init() {
    setBackgroundColor(UIColor::clearColor());
    enableDrawRect();

    hexColorLabel_ = std::make_shared<UILabel>();
    hexColorLabel_->setBackgroundColor(UIColor::clearColor());
    hexColorLabel_->setFontSize(12);
    hexColorLabel_->setTextColor(UIColor::colorWithWhite(0.5, 1.0));
    hexColorLabel_->setTextAlignment(NSTextAlignment::Center);
    addSubview(hexColorLabel_);

    borderLayer_ = CALayer::layerWithLayer(layer());
    borderLayer_->setCornerRadius(kQVColorInfoViewCornerRadius);
    borderLayer_->setBorderColor(UIColor::colorWithWhite(2.0 / 3.0, 1.0)); // light gray
    borderLayer_->setBorderWidth(1.0 / UIScreen::mainScreen().scale());
    layer().addSublayer(borderLayer_);
}

void QVColorInfoView::layoutSubviews() {
    const double w = frame().width(), h = frame().height();
    hexColorLabel_->setFrame(
        CGRectMake(0, h - kQVColorInfoViewLabelHeight, w, kQVColorInfoViewLabelHeight));
    borderLayer_->setFrame(CGRectMake(0, 0, w, h));
}

QString QVColorInfoView::hexCaption(const UIColor &color) {
    double r = 0, g = 0, b = 0, a = 0;
    if (!color.getRed(&r, &g, &b, &a))
        r = g = b = 0;
    auto byte = [](double c) {
        if (!(c > 0)) // also NaN
            return 0;
        if (c >= 1)
            return 255;
        return static_cast<int>(c * 255);
    };
    const int value = byte(r) << 16 | byte(g) << 8 | byte(b);
    return QStringLiteral("#%1").arg(value, 6, 16, QLatin1Char('0'));
}

void QVColorInfoView::setColor(const UIColor &color) {
    color_ = color;
    hexColorLabel_->setText(hexCaption(color));
    setNeedsDisplay();
}

void QVColorInfoView::drawRect(CGContext *context, CGRect rect) {
    if (!color_)
        return;
    UIBezierPath path = UIBezierPath::bezierPathWithRoundedRect(
        CGRectMake(0, 0, rect.width(), rect.height() - kQVColorInfoViewLabelHeight),
        UIRectCornerTopLeft | UIRectCornerTopRight, {4, 4});
    path.closePath();
    CGContextSetFillColorWithColor(context, *color_);
    path.fill(context);
}
