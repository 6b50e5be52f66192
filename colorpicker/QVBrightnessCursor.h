#pragma once

#include "UILabel.h"

#include <memory>

// The slider's knob: the colour in a disc on a light ring, and while dragged the brightness as a
// percentage floating above it.
class QVBrightnessCursor : public UIView {
public:
    QVBrightnessCursor();

    std::optional<platform::UIColor> color() const { return color_; }
    void setColor(const platform::UIColor &color);
    bool editing() const { return editing_; }
    void setEditing(bool editing);

    const CALayer &backLayer() const { return *backLayer_; }
    const CALayer &colorLayer() const { return *colorLayer_; }
    const UILabel &brightnessLabel() const { return *brightnessLabel_; }

private:
    void applyLook(bool editing);

    std::shared_ptr<CALayer> backLayer_;
    std::shared_ptr<CALayer> colorLayer_;
    std::shared_ptr<UILabel> brightnessLabel_;
    bool editing_ = false;
    std::optional<platform::UIColor> color_;
};
