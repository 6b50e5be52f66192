#pragma once

#include "HSVColor.h"
#include "QVProtocols.h"
#include "UIControl.h"

#include <concepts>
#include <functional>
#include <memory>
#include <sys/time.h>

// The composite colour control: a swatch with its hex code, a brightness slider beside it and a
// hue/saturation map below, kept in step. Announces the chosen colour with ValueChanged whenever
// a part ends an edit and, while a drag goes on, at most once per wait time when the colour has
// moved on, so that what the colour drives can follow the finger. Parts are made lazily; a
// client may supply its own.
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

    // The colour set, exactly, until a part changes it; then the parts' hue, saturation and
    // brightness.
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

    // True while an edit is under way: an announcement made now is one of a drag's, and a
    // final one follows when the part ends the edit.
    bool isTracking() const { return tracking_; }

    timeval lastDrawTime() const { return lastDrawTime_; }
    // The time the wait is measured by; gettimeofday unless replaced.
    void setClock(std::function<timeval()> clock) { clock_ = std::move(clock); }

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
    timeval now() const;
    bool waitIsOver(timeval now) const;
    void partChanged();
    void announceDuringDrag();
    void announceLater(timeval now);

    std::shared_ptr<UIView> colorInfoView_;
    QVColorInfoViewProtocol *colorInfo_ = nullptr;
    std::shared_ptr<UIControl> colorMapView_;
    QVColorMapViewProtocol *colorMap_ = nullptr;
    std::shared_ptr<UIControl> brightnessSlider_;
    QVBrightnessSliderProtocol *slider_ = nullptr;
    HSVColor currentHsvColor_;
    // The colour last set, as it was given, while the parts have not moved off it: hue,
    // saturation and brightness make a colour a rounding step off the one they came from, and
    // the caption truncates to whole bytes.
    std::optional<platform::UIColor> setColor_;
    timeval lastDrawTime_{};
    timeval waitTimeDuration_{};
    std::function<timeval()> clock_;
    bool tracking_ = false;
    // What the last announcement carried (or the edit's first value, which is not announced
    // before the edit ends).
    HSVColor announcedHsvColor_;
    // Tells a late announcement whether it is still wanted.
    unsigned laterGeneration_ = 0;
    bool laterPending_ = false;
};
