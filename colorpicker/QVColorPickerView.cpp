#include "QVColorPickerView.h"
#include "NBRConstants.h"
#include "QVBrightnessSlider.h"
#include "QVColorInfoView.h"
#include "QVColorMapView.h"
#include "dispatch.h"

#include <algorithm>

using platform::UIColor;

namespace {

// `later - earlier`, the microseconds borrowing from the seconds when they run short.
timeval timeBetween(timeval earlier, timeval later) {
    timeval since{later.tv_sec - earlier.tv_sec, later.tv_usec - earlier.tv_usec};
    if (since.tv_usec < 0) {
        since.tv_sec -= 1;
        since.tv_usec += 1000000;
    }
    return since;
}

std::int64_t microseconds(timeval time) {
    return time.tv_sec * 1000000ll + time.tv_usec;
}

} // namespace

QVColorPickerView::QVColorPickerView() : QVColorPickerView(CGRectZero) {}

QVColorPickerView::QVColorPickerView(CGRect frame) : UIControl(frame) {
    setBackgroundColor(UIColor::whiteColor());
    init();
}

QVColorPickerView::QVColorPickerView(const FromCoder &coder) {
    setBackgroundColor(coder.backgroundColor);
    init();
}

QVColorPickerView::~QVColorPickerView() {
    // Parts may outlive the picker (a client's own); they must not call back into it.
    if (colorMapView_)
        colorMapView_->removeTarget(this);
    if (brightnessSlider_)
        brightnessSlider_->removeTarget(this);
}

void QVColorPickerView::init() {
    lastDrawTime_ = now();
    waitTimeDuration_ = {NBRLiveColorInterval.count() / 1000000,
                         NBRLiveColorInterval.count() % 1000000};
}

timeval QVColorPickerView::now() const {
    if (clock_)
        return clock_();
    timeval time{};
    gettimeofday(&time, nullptr);
    return time;
}

bool QVColorPickerView::waitIsOver(timeval now) const {
    const timeval since = timeBetween(lastDrawTime_, now);
    // The wall clock may be set back; a wait measured across that would last until it caught up.
    if (since.tv_sec < 0)
        return true;
    return since.tv_sec > waitTimeDuration_.tv_sec ||
           (since.tv_sec == waitTimeDuration_.tv_sec && since.tv_usec > waitTimeDuration_.tv_usec);
}

UIColor QVColorPickerView::color() const {
    if (setColor_)
        return *setColor_;
    return UIColor::colorWithHue(currentHsvColor_.h, currentHsvColor_.s, currentHsvColor_.v, 1.0);
}

void QVColorPickerView::setColor(const UIColor &color) {
    double alpha = 0;
    color.getHue(&currentHsvColor_.h, &currentHsvColor_.s, &currentHsvColor_.v, &alpha);
    setColor_ = color.colorWithAlphaComponent(1.0);
    if (slider_)
        slider_->setColor(this->color());
    if (colorInfo_)
        colorInfo_->setColor(this->color());
    if (colorMap_) {
        colorMap_->setColor(this->color());
        colorMap_->setBrightness(currentHsvColor_.v);
    }
}

void QVColorPickerView::connect(UIControl &part, void (QVColorPickerView::*changed)(UIControl &)) {
    part.addTarget(
        this, [this, changed](UIControl &sender) { (this->*changed)(sender); },
        UIControlEventValueChanged);
    part.addTarget(
        this, [this](UIControl &) { sendActions(); }, UIControlEventEditingDidEnd);
}

UIView &QVColorPickerView::colorInfoView() {
    if (!colorInfoView_) {
        auto view = std::make_shared<QVColorInfoView>();
        colorInfoView_ = view;
        colorInfo_ = view.get();
        view->setColor(color());
        addSubview(view);
    }
    return *colorInfoView_;
}

UIControl &QVColorPickerView::brightnessSlider() {
    if (!brightnessSlider_) {
        auto slider = std::make_shared<QVBrightnessSlider>();
        slider->setBrightnessLowerLimit(0.4);
        slider->setColor(color());
        connect(*slider, &QVColorPickerView::brightnessChanged);
        brightnessSlider_ = slider;
        slider_ = slider.get();
        addSubview(slider);
    }
    return *brightnessSlider_;
}

UIControl &QVColorPickerView::colorMapView() {
    if (!colorMapView_) {
        auto map = QVColorMapView::colorMapWithFrame(CGRectZero, 0.9);
        map->setTileSize(16);
        colorMapView_ = map;
        colorMap_ = map.get();
        map->setBrightness(currentHsvColor_.v);
        map->setColor(color());
        connect(*map, &QVColorPickerView::colorMapColorChanged);
        map->setBackgroundColor(UIColor::colorWithRed(1, 0, 0, 1));
        addSubview(map);
    }
    return *colorMapView_;
}

QVColorInfoViewProtocol &QVColorPickerView::info() {
    colorInfoView();
    return *colorInfo_;
}

QVColorMapViewProtocol &QVColorPickerView::map() {
    colorMapView();
    return *colorMap_;
}

QVBrightnessSliderProtocol &QVColorPickerView::slider() {
    brightnessSlider();
    return *slider_;
}

void QVColorPickerView::adoptColorInfoView(std::shared_ptr<UIView> view,
                                           QVColorInfoViewProtocol *info) {
    if (!view)
        return;
    colorInfoView_ = std::move(view);
    colorInfo_ = info;
    colorInfo_->setColor(color());
}

void QVColorPickerView::adoptColorMapView(std::shared_ptr<UIControl> map,
                                          QVColorMapViewProtocol *protocol) {
    if (!map)
        return;
    if (colorMapView_)
        colorMapView_->removeTarget(this);
    colorMapView_ = std::move(map);
    colorMap_ = protocol;
    colorMap_->setBrightness(currentHsvColor_.v);
    colorMap_->setColor(color());
    connect(*colorMapView_, &QVColorPickerView::colorMapColorChanged);
}

void QVColorPickerView::adoptBrightnessSlider(std::shared_ptr<UIControl> slider,
                                              QVBrightnessSliderProtocol *protocol) {
    if (!slider)
        return;
    if (brightnessSlider_)
        brightnessSlider_->removeTarget(this);
    brightnessSlider_ = std::move(slider);
    slider_ = protocol;
    slider_->setColor(color());
    connect(*brightnessSlider_, &QVColorPickerView::brightnessChanged);
}

void QVColorPickerView::brightnessChanged(UIControl &sender) {
    if (&sender != brightnessSlider_.get())
        return;
    currentHsvColor_.v = static_cast<float>(slider_->brightness().value_or(0));
    setColor_.reset();
    map().setBrightness(currentHsvColor_.v);
    map().setColor(color());
    info().setColor(color());
    partChanged();
}

void QVColorPickerView::colorMapColorChanged(UIControl &sender) {
    if (&sender != colorMapView_.get())
        return;
    const auto picked = colorMap_->color();
    if (!picked)
        return;
    double alpha = 0;
    picked->getHue(&currentHsvColor_.h, &currentHsvColor_.s, &currentHsvColor_.v, &alpha);
    setColor_.reset();
    slider().setColor(*picked);
    info().setColor(color());
    partChanged();
}

void QVColorPickerView::partChanged() {
    // An edit's first value is where the finger came down: a tap, or a drag that stays on it,
    // is announced once, when it ends.
    if (!tracking_) {
        tracking_ = true;
        announcedHsvColor_ = currentHsvColor_;
        return;
    }
    announceDuringDrag();
}

void QVColorPickerView::announceDuringDrag() {
    if (!tracking_ || currentHsvColor_ == announcedHsvColor_)
        return;
    const timeval time = now();
    if (!waitIsOver(time)) {
        announceLater(time);
        return;
    }
    lastDrawTime_ = time;
    announcedHsvColor_ = currentHsvColor_;
    sendActionsForControlEvents(UIControlEventValueChanged);
}

void QVColorPickerView::announceLater(timeval time) {
    // A finger that rests after a move must still see its colour once the wait is over.
    if (laterPending_)
        return;
    const std::int64_t waited = microseconds(timeBetween(lastDrawTime_, time));
    const std::int64_t wait = microseconds(waitTimeDuration_);
    const std::int64_t remaining = std::clamp<std::int64_t>(wait - waited + 1, 1, wait + 1);
    std::weak_ptr<UIView> weak = weak_from_this();
    if (weak.expired())
        return;
    laterPending_ = true;
    const unsigned generation = laterGeneration_;
    dispatch_after(dispatch_time(DISPATCH_TIME_NOW, remaining * 1000), dispatch_get_main_queue(),
                   [weak, generation] {
                       auto view = std::static_pointer_cast<QVColorPickerView>(weak.lock());
                       if (!view || view->laterGeneration_ != generation)
                           return;
                       view->laterPending_ = false;
                       view->announceDuringDrag();
                   });
}

void QVColorPickerView::sendActions() {
    const timeval time = now();
    if (waitIsOver(time))
        lastDrawTime_ = time;
    tracking_ = false;
    ++laterGeneration_;
    laterPending_ = false;
    announcedHsvColor_ = currentHsvColor_;
    // Every end of an edit is announced, however soon after the last: it is the colour the user
    // ended on.
    sendActionsForControlEvents(UIControlEventValueChanged);
}

void QVColorPickerView::layoutSubviews() {
    if (usingAutoLayout())
        return;
    const double w = frame().width(), h = frame().height();
    UIControl &mapView = colorMapView();
    UIView &infoView = colorInfoView();
    UIControl &sliderView = brightnessSlider();

    // The map takes the width and what the swatch's row leaves of the height. A tall picker keeps
    // it square as long as the swatch loses no more than its top edge; a wide one never lets it
    // push the swatch, its caption or the slider out of sight.
    double mapHeight = std::max(0.0, h - 104);
    if (w <= h)
        mapHeight = std::max(mapHeight, std::min(w, h - 60));
    mapView.setFrame(CGRectMake(0, h - mapHeight, w, mapHeight));
    const CGSize content = mapView.intrinsicContentSize();
    mapView.setFrame(CGRectMake(0, h - content.height, content.width, content.height));
    const double top = h - content.height;
    infoView.setFrame(CGRectMake(8, (top - 84) * 0.5, 66, 84));
    const CGRect info = infoView.frame();
    sliderView.setFrame(sliderView.frameForAlignmentRect(
        CGRectMake(info.maxX() + 9, info.maxY() - 29, w - 18 - info.maxX(), 11)));
}
