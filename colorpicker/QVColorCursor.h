#pragma once

#include "QVProtocols.h"
#include "UIView.h"

#include <memory>

inline constexpr double kQVColorCursorRingInset = 5.5;

// The round marker of the map: the colour in an inner disc on a translucent ring, the ring dark
// when the colour is light and unsaturated, swelling while the user drags.
class QVColorCursor : public UIView, public QVColorCursorProtocol {
public:
    static CGSize cursorSize() { return {28, 28}; }
    static std::shared_ptr<QVColorCursor> colorCursorWithPoint(CGPoint point);
    explicit QVColorCursor(CGPoint point);

    std::optional<platform::UIColor> color() const { return color_; }
    void setColor(const platform::UIColor &color);
    bool editing() const { return editing_; }
    bool respondsToSetEditing() const override { return true; }
    void setEditing(bool editing) override;
    bool isGrayCursor() const { return grayCursor_; }
    void setGrayCursor(bool gray) { grayCursor_ = gray; }

    const CALayer &backLayer() const { return *backLayer_; }
    const CALayer &colorLayer() const { return *colorLayer_; }
    // How often the ring has been restyled.
    int ringRestyles() const { return ringRestyles_; }

private:
    void applyLook(bool editing);

    std::shared_ptr<CALayer> backLayer_;
    std::shared_ptr<CALayer> colorLayer_;
    std::optional<platform::UIColor> color_;
    bool editing_ = false;
    bool grayCursor_ = false;
    int ringRestyles_ = 0;
};
