#pragma once

#include "QVBrightnessCursor.h"
#include "QVProtocols.h"
#include "UIControl.h"

#include <memory>

class CAGradientLayer;
class UIGestureRecognizer;

// The brightness control: a pill-shaped track from the colour at full brightness (left) to the
// lower limit (right), and a knob at the current brightness. Hue and saturation pass through.
class QVBrightnessSlider : public UIControl, public QVBrightnessSliderProtocol {
public:
    QVBrightnessSlider();
    explicit QVBrightnessSlider(CGRect frame);

    std::optional<double> brightness() const override { return brightness_; }
    // The colour last set with its hue and saturation and the slider's brightness; none before
    // the first colour.
    std::optional<platform::UIColor> color() override;
    void setColor(const platform::UIColor &color) override;
    std::optional<double> brightnessLowerLimit() const { return brightnessLowerLimit_; }
    void setBrightnessLowerLimit(std::optional<double> limit);

    void handleTap(UIGestureRecognizer &recognizer);
    void handlePan(UIGestureRecognizer &recognizer);
    void update(CGPoint point, bool sendUpdates);
    void updateCursor();

    void layoutSubviews() override;
    UIEdgeInsets alignmentRectInsets() const override { return {10, 20, 10, 20}; }

    const QVBrightnessCursor &brightnessCursor() const { return *brightnessCursor_; }
    const CAGradientLayer &sliderLayer() const { return *sliderLayer_; }
    CGRect controlFrame() const { return controlFrame_; }
    CGRect renderingFrame() const { return renderingFrame_; }

private:
    void init();
    // The limit used in arithmetic: single precision, held within 0...1 (NaN and none read 0).
    float lowerLimit() const;

    std::shared_ptr<QVBrightnessCursor> brightnessCursor_;
    std::shared_ptr<CAGradientLayer> sliderLayer_;
    std::optional<double> brightness_;
    std::optional<platform::UIColor> color_;
    std::optional<double> brightnessLowerLimit_;
    bool needsToUpdateColor_ = false;
    CGRect controlFrame_;
    CGRect renderingFrame_;
};
