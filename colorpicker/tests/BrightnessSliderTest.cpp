#include "CALayer.h"
#include "QVBrightnessSlider.h"
#include "TouchPath.h"
#include "UIGestureRecognizer.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

using platform::UIColor;
using State = UIGestureRecognizerState;

namespace {

struct SliderFixture : ::testing::Test {
    std::shared_ptr<QVBrightnessSlider> slider = std::make_shared<QVBrightnessSlider>();
    std::string events;

    void SetUp() override {
        slider->setFrame(CGRectMake(0, 0, 240, 40));
        slider->layoutIfNeeded();
        slider->addTarget(
            this,
            [this](UIControl &) {
                events += "V" + std::to_string(int(std::lround(*slider->brightness() * 100)));
            },
            UIControlEventValueChanged);
        slider->addTarget(
            this,
            [this](UIControl &) {
                events += "E" + std::to_string(int(std::lround(*slider->brightness() * 100)));
            },
            UIControlEventEditingDidEnd);
    }
    UIGestureRecognizer &tap() { return *slider->gestureRecognizers()[0]; }
    UIGestureRecognizer &pan() { return *slider->gestureRecognizers()[1]; }
    double tapAt(double x) {
        tap().report(State::Ended, {{x, 20}});
        return *slider->brightness();
    }
};

} // namespace

TEST_F(SliderFixture, GeometryFor240By40) {
    EXPECT_EQ(slider->renderingFrame(), CGRectMake(20, 10, 200, 20));
    EXPECT_EQ(slider->controlFrame(), CGRectMake(28, 10, 184, 20));
    EXPECT_EQ(slider->sliderLayer().frame(), CGRectMake(20, 10, 200, 20));
    EXPECT_EQ(slider->sliderLayer().cornerRadius(), 10);
    // No colour yet: the knob stays at the left end.
    EXPECT_EQ(slider->brightnessCursor().center(), (CGPoint{28, 20}));
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.1, 1, 0.4, 1));
    EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 212);
    EXPECT_EQ(slider->brightnessCursor().center().y, 20);
    slider->setColor(UIColor::colorWithHue(0.1, 1, 0.7, 1));
    EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 120);
    EXPECT_EQ(slider->alignmentRectForFrame(CGRectMake(63, 55, 268, 31)),
              CGRectMake(83, 65, 228, 11));
    EXPECT_EQ(slider->frameForAlignmentRect(CGRectMake(83, 65, 228, 11)),
              CGRectMake(63, 55, 268, 31));
}

TEST_F(SliderFixture, TapsMapOntoTheRangeAndClampAtTheEnds) {
    slider->setBrightnessLowerLimit(0.4);
    EXPECT_FLOAT_EQ(tapAt(28), 1.0);
    EXPECT_FLOAT_EQ(tapAt(212), 0.4);
    EXPECT_FLOAT_EQ(tapAt(120), 0.7);
    EXPECT_FLOAT_EQ(tapAt(0), 1.0);
    EXPECT_FLOAT_EQ(tapAt(239), 0.4);
}

TEST_F(SliderFixture, WithoutALimitTheRightEndIsBlack) {
    EXPECT_FLOAT_EQ(tapAt(212), 0.0);
}

TEST_F(SliderFixture, TapSendsTheValueThenTheEndOfEditingWithTheNewBrightness) {
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.1, 1, 1, 1));
    tapAt(120);
    EXPECT_EQ(events, "V70E70");
}

TEST_F(SliderFixture, DragSendsValuesAndIsAnnouncedWhenTheFingerLifts) {
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.1, 1, 1, 1));
    pan().report(State::Began, {{40, 20}});
    EXPECT_EQ(events, "");
    pan().report(State::Changed, {{120, 20}});
    EXPECT_TRUE(slider->brightnessCursor().editing());
    pan().report(State::Changed, {{212, 20}});
    EXPECT_EQ(events, "V70V40");
    pan().report(State::Ended, {});
    EXPECT_FALSE(slider->brightnessCursor().editing());
    EXPECT_EQ(events, "V70V40V40E40");
    EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 212);
}

TEST_F(SliderFixture, SetColorKeepsHueAndSaturationAndSendsNothing) {
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 0.3));
    EXPECT_EQ(events, "");
    tapAt(120);
    double h = 0, s = 0, v = 0, a = 0;
    slider->color()->getHue(&h, &s, &v, &a);
    EXPECT_NEAR(h, 0.6, 1e-9);
    EXPECT_NEAR(s, 0.5, 1e-9);
    EXPECT_FLOAT_EQ(v, 0.7);
    EXPECT_EQ(a, 1.0);
    ASSERT_EQ(slider->sliderLayer().colors().size(), 2u);
    slider->sliderLayer().colors()[1].getHue(&h, &s, &v, &a);
    EXPECT_FLOAT_EQ(v, 0.4);
}

TEST(BrightnessSlider, LimitBeforeAnyColourLeavesBrightnessAndColourUnset) {
    QVBrightnessSlider slider;
    slider.setBrightnessLowerLimit(0.4);
    EXPECT_EQ(slider.brightnessLowerLimit(), 0.4);
    EXPECT_FALSE(slider.brightness().has_value());
    EXPECT_FALSE(slider.color().has_value());
}

TEST(BrightnessSlider, LimitOfOneOrMoreNeverGivesNonsense) {
    auto slider = std::make_shared<QVBrightnessSlider>(CGRectMake(0, 0, 240, 40));
    slider->layoutIfNeeded();
    slider->setBrightnessLowerLimit(1.5);
    slider->setColor(UIColor::colorWithHue(0.1, 1, 0.5, 1));
    EXPECT_EQ(slider->brightnessCursor().center().x, 28);
    slider->gestureRecognizers()[0]->report(State::Ended, {{100, 20}});
    EXPECT_FLOAT_EQ(*slider->brightness(), 1.0);
}

TEST(BrightnessSlider, TouchBeforeLayoutIsIgnored) {
    auto slider = std::make_shared<QVBrightnessSlider>();
    int events = 0;
    slider->addTarget(
        &events, [&](UIControl &) { ++events; }, UIControlEventValueChanged);
    slider->gestureRecognizers()[0]->report(State::Ended, {{0, 0}});
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(slider->brightness().has_value());
}

TEST_F(SliderFixture, QuickAndSlowDragsEndOnTheBrightnessWhereTheFingerLifts) {
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.6, 1, 1.0, 1));
    // One move of more than the pan's hysteresis, then release: Began, then Ended at once.
    drag(*slider, {{40, 20}, {212, 20}, {212, 20}});
    EXPECT_FLOAT_EQ(*slider->brightness(), 0.4f);
    EXPECT_EQ(events, "V40E40");
    EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 212);
    events.clear();
    // A slow drag back, released a little left of its last move.
    drag(*slider, {{212, 20}, {190, 20}, {150, 20}, {120, 20}, {121, 20}});
    EXPECT_NEAR(*slider->brightness(), 0.7, 0.01);
    EXPECT_EQ(events.substr(events.size() - 6), "V70E70");
    EXPECT_FALSE(slider->brightnessCursor().editing());
}

TEST_F(SliderFixture, KnobOfAColourDarkerThanTheTrackWaitsAtItsDarkEnd) {
    slider->setBrightnessLowerLimit(0.4);
    for (double v : {0.0, 0.2, 0.39}) {
        slider->setColor(UIColor::colorWithHue(0.1, 1, v, 1));
        EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 212) << v;
    }
    slider->setColor(UIColor::colorWithRed(0x33 / 255.0, 0x33 / 255.0, 0x33 / 255.0, 1));
    EXPECT_FLOAT_EQ(slider->brightnessCursor().center().x, 212);
}

TEST_F(SliderFixture, KnobLabelReadsSeventyAtTheMiddleOfTheTrack) {
    slider->setBrightnessLowerLimit(0.4);
    slider->setColor(UIColor::colorWithHue(0.6, 1, 1.0, 1));
    tapAt(120); // the middle of the control frame {28, 184}
    EXPECT_EQ(slider->brightnessCursor().brightnessLabel().text(), "70%");
    tapAt(28);
    EXPECT_EQ(slider->brightnessCursor().brightnessLabel().text(), "100%");
}
