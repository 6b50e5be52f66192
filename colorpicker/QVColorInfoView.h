#pragma once

#include "QVProtocols.h"
#include "UILabel.h"

#include <memory>

inline constexpr double kQVColorInfoViewLabelHeight = 18.0;
inline constexpr double kQVColorInfoViewCornerRadius = 3.0;

// The swatch above the map: the colour, and below it a caption "#rrggbb".
class QVColorInfoView : public UIView, public QVColorInfoViewProtocol {
public:
    QVColorInfoView();
    explicit QVColorInfoView(CGRect frame);

    std::optional<platform::UIColor> color() const override { return color_; }
    void setColor(const platform::UIColor &color) override;

    void layoutSubviews() override;
    // Auto Layout aligns the view by its caption.
    UILabel &viewForBaselineLayout() const { return *hexColorLabel_; }
    const CALayer &borderLayer() const { return *borderLayer_; }

    // "#rrggbb" of the colour: components ×255 truncated; components outside 0...1 are held to
    // the nearer end (and a missing one counts as 0) so the caption always has six digits.
    static QString hexCaption(const platform::UIColor &color);

protected:
    void drawRect(CGContext *context, CGRect rect) override;

private:
    void init();

    std::optional<platform::UIColor> color_;
    std::shared_ptr<UILabel> hexColorLabel_;
    std::shared_ptr<CALayer> borderLayer_;
};
