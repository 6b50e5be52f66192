#pragma once

#include "HSVColor.h"
#include "QVProtocols.h"
#include "UIControl.h"

#include <concepts>
#include <memory>
#include <sys/time.h>

// The composite colour control: a swatch with its hex code, a brightness slider beside it and a
// hue/saturation map below, kept in step. Announces the chosen colour with ValueChanged whenever
// a part ends an edit. Parts are made lazily; a client may supply its own.
class QVColorPickerView : public UIControl {
public:
    QVColorPickerView();
    explicit QVColorPickerView(CGRect frame);
    // As if decoded: the background is left as it came.
    struct FromCoder {
        std::optional<platform::UIColor> backgroundColor;
    };
    explicit QVColorPickerView(const FromCoder &coder);
    ~QVColorPickerView() override;

    platform::UIColor color() const;
    void setColor(const platform::UIColor &color);
    HSVColor currentHsvColor() const { return currentHsvColor_; }

    UIView &colorInfoView();
    UIControl &colorMapView();
    UIControl &brightnessSlider();
    bool hasColorInfoView() const { return colorInfoView_ != nullptr; }
    bool hasColorMapView() const { return colorMapView_ != nullptr; }
    bool hasBrightnessSlider() const { return brightnessSlider_ != nullptr; }

    template <class T>
    requires std::derived_from<T, UIView> && std::derived_from<T, QVColorInfoViewProtocol>
    void setColorInfoView(std::shared_ptr<T> view) { adoptColorInfoView(view, view.get()); }
    template <class T>
    requires std::derived_from<T, UIControl> && std::derived_from<T, QVColorMapViewProtocol>
    void setColorMapView(std::shared_ptr<T> map) { adoptColorMapView(map, map.get()); }
    template <class T>
    requires std::derived_from<T, UIControl> && std::derived_from<T, QVBrightnessSliderProtocol>
    void setBrightnessSlider(std::shared_ptr<T> slider) {
        adoptBrightnessSlider(slider, slider.get());
    }

    void brightnessChanged(UIControl &sender);
    void colorMapColorChanged(UIControl &sender);
    void sendActions();

    bool usingAutoLayout() const { return !constraints().empty(); }
    void layoutSubviews() override;

    timeval lastDrawTime() const { return lastDrawTime_; }

private:
    void init();
    void adoptColorInfoView(std::shared_ptr<UIView> view, QVColorInfoViewProtocol *info);
    void adoptColorMapView(std::shared_ptr<UIControl> map, QVColorMapViewProtocol *protocol);
    void adoptBrightnessSlider(std::shared_ptr<UIControl> slider,
                               QVBrightnessSliderProtocol *protocol);
    void connect(UIControl &part, void (QVColorPickerView::*changed)(UIControl &));
    QVColorInfoViewProtocol &info();
    QVColorMapViewProtocol &map();
    QVBrightnessSliderProtocol &slider();

    std::shared_ptr<UIView> colorInfoView_;
    QVColorInfoViewProtocol *colorInfo_ = nullptr;
    std::shared_ptr<UIControl> colorMapView_;
    QVColorMapViewProtocol *colorMap_ = nullptr;
    std::shared_ptr<UIControl> brightnessSlider_;
    QVBrightnessSliderProtocol *slider_ = nullptr;
    HSVColor currentHsvColor_;
    timeval lastDrawTime_{};
    timeval waitTimeDuration_{};
};
