#include "QVBrightnessSlider.h"
#include "CATransaction.h"
#include "QVDragHelpers.h"
#include "UIGestureRecognizer.h"
#include "UIScreen.h"

#include <algorithm>
#include <cmath>

using platform::UIColor;

QVBrightnessSlider::QVBrightnessSlider() : QVBrightnessSlider(CGRectZero) {}

QVBrightnessSlider::QVBrightnessSlider(CGRect frame) : UIControl(frame) {
    init();
}

void QVBrightnessSlider::init() {
    sliderLayer_ = CAGradientLayer::layerWithLayer(layer());
    sliderLayer_->setStartPoint({0, 0.5});
    sliderLayer_->setEndPoint({1, 0.5});
    sliderLayer_->setBorderColor(UIColor::colorWithWhite(2.0 / 3.0, 1.0));
    sliderLayer_->setBorderWidth(1.0 / UIScreen::mainScreen().scale());
    layer().addSublayer(sliderLayer_);

    setBackgroundColor(UIColor::clearColor());
    // The recognisers only reach this slider while it lives (the view owns them).
    addGestureRecognizer(
        std::make_shared<UITapGestureRecognizer>([this](UIGestureRecognizer &r) { handleTap(r); }));
    addGestureRecognizer(
        std::make_shared<UIPanGestureRecognizer>([this](UIGestureRecognizer &r) { handlePan(r); }));

    brightnessCursor_ = std::make_shared<QVBrightnessCursor>();
    addSubview(brightnessCursor_);
    needsToUpdateColor_ = false;
}

float QVBrightnessSlider::lowerLimit() const {
    const float limit = static_cast<float>(brightnessLowerLimit_.value_or(0));
    if (!(limit > 0))
        return 0;
    return std::min(limit, 1.0f);
}

std::optional<UIColor> QVBrightnessSlider::color() {
    if (needsToUpdateColor_ && color_) {
        double h = 0, s = 0, v = 0, a = 0;
        color_->getHue(&h, &s, &v, &a);
        // The brightness as computed, not a single-precision copy of it: the middle of the track
        // (0.70000000298) must not read as 0.699999988, whose percentage is 69.
        color_ = UIColor::colorWithHue(h, s, brightness_.value_or(0), 1.0);
    }
    return color_;
}

void QVBrightnessSlider::setColor(const UIColor &color) {
    color_ = color;
    double h = 0, s = 0, v = 0, a = 0;
    color.getHue(&h, &s, &v, &a);
    brightness_ = v;
    needsToUpdateColor_ = true;
    updateCursor();

    CATransaction::begin();
    CATransaction::setDisableActions(true);
    sliderLayer_->setColors(
        {UIColor::colorWithHue(h, s, 1.0, 1.0), UIColor::colorWithHue(h, s, lowerLimit(), 1.0)});
    CATransaction::commit();
}

void QVBrightnessSlider::setBrightnessLowerLimit(std::optional<double> limit) {
    brightnessLowerLimit_ = limit;
    updateCursor();
    if (color_)
        setColor(*color_);
}

void QVBrightnessSlider::layoutSubviews() {
    const double w = frame().width(), h = frame().height();
    renderingFrame_ = CGRectMake(20, 10, w - 40, h - 20);
    controlFrame_ = renderingFrame_.insetBy(8, 0);
    brightnessCursor_->setCenter({controlFrame_.minX(), controlFrame_.midY()});
    sliderLayer_->setCornerRadius(renderingFrame_.height() / 2);
    sliderLayer_->setFrame(renderingFrame_);
    updateCursor();
}

void QVBrightnessSlider::update(CGPoint point, bool sendUpdates) {
    const double w = controlFrame_.width();
    if (!(w > 0)) // not laid out yet: no span to map the touch onto
        return;
    const float limit = lowerLimit();
    const double f = std::clamp(point.x - controlFrame_.minX(), 0.0, w) / w;
    brightness_ = (1.0 - limit) * (1.0 - f) + limit;
    // The value first, so that whoever acts on the end of editing reads the new brightness.
    sendActionsForControlEvents(UIControlEventValueChanged);
    if (sendUpdates)
        sendActionsForControlEvents(UIControlEventEditingDidEnd);
}

void QVBrightnessSlider::updateCursor() {
    if (!brightness_)
        return; // no colour yet: the knob stays where layout put it
    const float b = static_cast<float>(*brightness_);
    const float limit = lowerLimit();
    // A limit of 1 leaves a single brightness, shown at the left end.
    float pos = limit >= 1.0f ? 0.0f : (limit - b) / (1.0f - limit) + 1.0f;
    if (!(pos >= 0))
        return;
    // Darker than the track reaches: the knob waits at the track's dark end, not beyond it.
    pos = std::min(pos, 1.0f);
    CGPoint c = brightnessCursor_->center();
    c.x = controlFrame_.minX() + controlFrame_.width() * pos;
    brightnessCursor_->setCenter(c);
    if (auto shown = color())
        brightnessCursor_->setColor(*shown);
}

void QVBrightnessSlider::handleTap(UIGestureRecognizer &recognizer) {
    if (recognizer.state() != UIGestureRecognizerState::Ended || recognizer.numberOfTouches() < 1)
        return;
    update(recognizer.locationOfTouch(0, this), true);
    updateCursor();
}

void QVBrightnessSlider::handlePan(UIGestureRecognizer &recognizer) {
    const auto step = qv_panStep(recognizer, this);
    if (!step)
        return;
    if (step->touching) {
        update(step->location, step->ended);
        updateCursor();
        brightnessCursor_->setEditing(true);
        return;
    }
    brightnessCursor_->setEditing(false);
    // The finger has lifted: the brightness where it lifted is the drag's, and is announced.
    if (step->ended) {
        update(step->location, true);
        updateCursor();
    }
}
