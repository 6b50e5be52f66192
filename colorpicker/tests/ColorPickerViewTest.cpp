#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "QVBrightnessSlider.h"
#include "QVColorInfoView.h"
#include "QVColorMapView.h"
#include "QVColorPickerView.h"
#include "UIGestureRecognizer.h"
#include "UIViewHost.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <gtest/gtest.h>

using platform::UIColor;
using State = UIGestureRecognizerState;

namespace {

// Through the picker's own conversion, as it reads colours back.
HSVColor pickerHSVOf(const UIColor &c) {
    HSVColor hsv;
    HSVColorFromUIColor(c, &hsv);
    return hsv;
}

struct PickerFixture : ::testing::Test {
    std::shared_ptr<QVColorPickerView> picker =
        std::make_shared<QVColorPickerView>(CGRectMake(0, 0, 320, 504));
    std::vector<UIColor> announced;

    void SetUp() override {
        picker->addTarget(
            this, [this](UIControl &) { announced.push_back(picker->color()); },
            UIControlEventValueChanged);
    }
    QVColorMapView &map() { return static_cast<QVColorMapView &>(picker->colorMapView()); }
    QVBrightnessSlider &slider() {
        return static_cast<QVBrightnessSlider &>(picker->brightnessSlider());
    }
    QVColorInfoView &info() { return static_cast<QVColorInfoView &>(picker->colorInfoView()); }
};

} // namespace

TEST(ColorPickerView, BackgroundWhiteWhenMadeAndAsDecodedFromACoder) {
    QVColorPickerView made;
    EXPECT_EQ(made.backgroundColor(), UIColor::whiteColor());
    const auto gray = UIColor::colorWithWhite(0.3, 1);
    QVColorPickerView decoded(QVColorPickerView::FromCoder{gray});
    EXPECT_EQ(decoded.backgroundColor(), gray);
}

TEST(ColorPickerView, ColourIsBlackUntilSetAndAlwaysOpaque) {
    QVColorPickerView picker;
    EXPECT_EQ(picker.color(), UIColor::colorWithRed(0, 0, 0, 1));
    picker.setColor(UIColor::colorWithRed(0.2, 0.4, 0.6, 0.5));
    EXPECT_EQ(picker.color().alpha(), 1.0);
    EXPECT_NEAR(picker.color().blue(), 0.6, 1e-12);
}

TEST_F(PickerFixture, PartsAreMadeAtLayoutAndTakeTheColourSetBefore) {
    picker->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 1));
    EXPECT_FALSE(picker->hasColorMapView());
    EXPECT_FALSE(picker->hasColorInfoView());
    EXPECT_FALSE(picker->hasBrightnessSlider());
    EXPECT_TRUE(picker->subviews().empty());
    picker->layoutIfNeeded();
    ASSERT_EQ(picker->subviews().size(), 3u);
    EXPECT_EQ(picker->subviews()[0].get(), &map());
    EXPECT_EQ(picker->subviews()[2].get(), &slider());
    EXPECT_FLOAT_EQ(*slider().brightness(), 0.8);
    EXPECT_FLOAT_EQ(map().brightness(), 0.8);
    EXPECT_EQ(info().viewForBaselineLayout().text(),
              QVColorInfoView::hexCaption(UIColor::colorWithHue(0.6, 0.5, 0.8, 1)));
    EXPECT_EQ(slider().brightnessLowerLimit(), 0.4);
    EXPECT_EQ(map().tileSize(), 16);
    EXPECT_EQ(map().saturationUpperLimit(), 0.9);
    EXPECT_TRUE(announced.empty());
}

TEST_F(PickerFixture, LayoutFor320By504) {
    picker->layoutIfNeeded();
    EXPECT_EQ(map().frame(), CGRectMake(0, 104, 320, 400));
    EXPECT_EQ(info().frame(), CGRectMake(8, 10, 66, 84));
    EXPECT_EQ(slider().frame(), CGRectMake(63, 55, 268, 31));
    EXPECT_EQ(slider().alignmentRectForFrame(slider().frame()), CGRectMake(83, 65, 228, 11));
}

TEST_F(PickerFixture, LayoutFor320By380KeepsTheMapSquare) {
    picker->setFrame(CGRectMake(0, 0, 320, 380));
    picker->layoutIfNeeded();
    EXPECT_EQ(map().frame(), CGRectMake(0, 60, 320, 320));
    EXPECT_EQ(info().frame(), CGRectMake(8, -12, 66, 84));
}

TEST_F(PickerFixture, ConstraintsLeaveThePartsAlone) {
    picker->addConstraint({"client"});
    picker->layoutIfNeeded();
    EXPECT_FALSE(picker->hasColorMapView());
    picker->colorMapView().setFrame(CGRectMake(1, 2, 30, 40));
    picker->setNeedsLayout();
    picker->layoutIfNeeded();
    EXPECT_EQ(picker->colorMapView().frame(), CGRectMake(1, 2, 30, 40));
    EXPECT_FALSE(picker->hasBrightnessSlider());
}

TEST_F(PickerFixture, SliderChangeDimsTheMapAndRecoloursTheSwatch) {
    picker->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 1));
    picker->layoutIfNeeded();
    // Half-way between 1.0 and the limit 0.4 is 0.7; pick 0.5 at 5/6 of the span.
    const CGRect span = slider().controlFrame();
    slider().gestureRecognizers()[0]->report(
        State::Ended, {{slider().frame().minX() + span.minX() + span.width() * 5 / 6, 70}});
    EXPECT_FLOAT_EQ(map().brightness(), 0.5);
    const HSVColor shown = pickerHSVOf(*info().color());
    EXPECT_NEAR(shown.h, 0.6, 1e-9);
    EXPECT_NEAR(shown.s, 0.5, 1e-9);
    EXPECT_FLOAT_EQ(shown.v, 0.5);
    // The announcement carries the brightness the tap chose, not the one before it.
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_FLOAT_EQ(pickerHSVOf(announced[0]).v, 0.5);
}

TEST_F(PickerFixture, MapTapAnnouncesTheTappedColour) {
    picker->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 1));
    picker->layoutIfNeeded();
    map().gestureRecognizers()[0]->report(State::Ended, {{100, 104 + 5}});
    ASSERT_EQ(announced.size(), 1u);
    const HSVColor c = pickerHSVOf(announced[0]);
    EXPECT_NEAR(c.h, 0.3, 1e-9);
    EXPECT_EQ(c.s, 1.0);
    EXPECT_FLOAT_EQ(c.v, 0.8);
    EXPECT_NEAR(pickerHSVOf(*slider().color()).h, 0.3, 1e-6);
    EXPECT_EQ(info().color(), picker->color());
}

TEST_F(PickerFixture, BrightnessSetByDraggingIsAnnounced) {
    picker->setColor(UIColor::colorWithHue(0.6, 0.5, 1.0, 1));
    picker->layoutIfNeeded();
    auto &pan = *slider().gestureRecognizers()[1];
    const double right = slider().frame().minX() + slider().controlFrame().maxX();
    pan.report(State::Began, {{100, 70}});
    pan.report(State::Changed, {{right, 70}});
    EXPECT_TRUE(announced.empty());
    pan.report(State::Ended, {});
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_FLOAT_EQ(pickerHSVOf(announced[0]).v, 0.4);
}

namespace {
class PlainInfo : public UIView, public QVColorInfoViewProtocol {
public:
    std::optional<UIColor> color() const override { return color_; }
    void setColor(const UIColor &c) override { color_ = c; }
    std::optional<UIColor> color_;
};
} // namespace

TEST_F(PickerFixture, ClientPartTakesTheColourButIsNotAddedAsSubview) {
    picker->setColor(UIColor::colorWithRed(0, 0, 1, 1));
    auto own = std::make_shared<PlainInfo>();
    picker->setColorInfoView(own);
    EXPECT_EQ(own->color(), picker->color());
    EXPECT_EQ(own->superview(), nullptr);
    picker->setColor(UIColor::colorWithRed(0, 1, 0, 1));
    EXPECT_EQ(own->color(), picker->color());
}

TEST(ColorPickerView, PartsOutlivingThePickerDoNotCallIntoIt) {
    auto picker = std::make_shared<QVColorPickerView>(CGRectMake(0, 0, 320, 504));
    picker->layoutIfNeeded();
    std::shared_ptr<UIView> map = picker->subviews()[0];
    auto *control = static_cast<QVColorMapView *>(map.get());
    EXPECT_GT(control->targetCount(), 0u);
    picker.reset();
    EXPECT_EQ(control->targetCount(), 0u);
    control->gestureRecognizers()[0]->report(State::Ended, {{5, 5}});
}

TEST(ColorPickerOnScreen, MapReachesTheScreenWhenItsRenderFinishesWithoutAnyInput) {
    auto picker = std::make_shared<QVColorPickerView>(CGRectMake(0, 0, 320, 504));
    picker->setColor(UIColor::colorWithHue(0.6, 1, 1, 1));
    UIViewHost host(picker);
    host.show();
    auto &map = static_cast<QVColorMapView &>(picker->colorMapView());
    ASSERT_TRUE(platform::testing::spinUntil([&] { return map.isShown(); }));
    // What the window system has, not a fresh render of the tree: only what was repainted.
    auto tileOnScreen = [&] {
        const QImage shown = host.screen()->grabWindow(host.winId()).toImage();
        return shown.isNull() ? QColor() : shown.pixelColor(8, 104 + 8);
    };
    platform::testing::spinUntil([&] { return tileOnScreen() == QColor(255, 0, 0); });
    EXPECT_EQ(tileOnScreen(), QColor(255, 0, 0)); // the top-left tile: hue 0, saturation 1
}

namespace {

// A picker on a clock of the test's own: the wait between a drag's announcements is measured by
// it, not by how fast the test runs.
struct DragFixture : PickerFixture {
    timeval clock{};
    std::vector<timeval> announcedAt;

    void SetUp() override {
        PickerFixture::SetUp();
        picker->addTarget(
            this, [this](UIControl &) { announcedAt.push_back(clock); },
            UIControlEventValueChanged);
        clock = picker->lastDrawTime();
        clock.tv_sec += 10;
        picker->setClock([this] { return clock; });
        picker->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 1));
        picker->layoutIfNeeded();
    }
    void advance(int milliseconds) {
        clock.tv_usec += milliseconds * 1000;
        clock.tv_sec += clock.tv_usec / 1000000;
        clock.tv_usec %= 1000000;
    }
    static long long microseconds(timeval t) { return t.tv_sec * 1000000ll + t.tv_usec; }
    UIGestureRecognizer &mapPan() { return *map().gestureRecognizers()[1]; }
};

} // namespace

TEST_F(DragFixture, ASecondsDragFollowsTheFingerAtMostOncePerWaitAndEndsOnTheReleaseTile) {
    // 100 moves 10 ms apart, corner to corner over the 20 × 25 tiles of the map.
    mapPan().report(State::Began, {{2, 106}});
    CGPoint finger{};
    for (int step = 1; step <= 100; ++step) {
        advance(10);
        finger = {2 + 3.1 * step, 106 + 3.9 * step};
        mapPan().report(State::Changed, {finger});
    }
    const std::size_t duringDrag = announced.size();
    mapPan().report(State::Ended, {});

    EXPECT_GE(announced.size(), 13u);
    EXPECT_LE(announced.size(), 17u);
    EXPECT_EQ(announced.size(), duringDrag + 1) << "the release announces once more";
    for (std::size_t i = 1; i < duringDrag; ++i)
        EXPECT_GT(microseconds(announcedAt[i]) - microseconds(announcedAt[i - 1]),
                  NBRLiveColorInterval.count())
            << "announcements " << i - 1 << " and " << i;
    for (std::size_t i = 1; i < duringDrag; ++i)
        EXPECT_FALSE(pickerHSVOf(announced[i]) == pickerHSVOf(announced[i - 1]))
            << "a repeated colour";
    // The release lies in column 19 of 20 (x = 312), where the hue is 19/20.
    EXPECT_EQ(announced.back(), picker->color());
    EXPECT_NEAR(pickerHSVOf(announced.back()).h, 0.95, 1e-9);
    EXPECT_EQ(map().color(), picker->color());

    // The wall clock set back an hour: the next drag still follows the finger.
    clock.tv_sec -= 3600;
    announced.clear();
    mapPan().report(State::Began, {finger});
    mapPan().report(State::Changed, {finger});
    mapPan().report(State::Changed, {{100, 200}});
    EXPECT_EQ(announced.size(), 1u);
    mapPan().report(State::Ended, {});
}

TEST_F(DragFixture, ATapAnnouncesOnceAndADragOnOneTileOnlyAtItsEnd) {
    map().gestureRecognizers()[0]->report(State::Ended, {{100, 104 + 5}});
    ASSERT_EQ(announced.size(), 1u);
    const UIColor tapped = announced[0];

    // Long after, a drag that wanders within one tile (column 2, row 1) for half a second.
    advance(1000);
    mapPan().report(State::Began, {{40, 125}});
    for (int step = 0; step < 50; ++step) {
        advance(10);
        mapPan().report(State::Changed, {{33.0 + step % 14, 122.0 + step % 12}});
    }
    EXPECT_EQ(announced.size(), 1u) << "nothing while the finger stays on one tile";
    EXPECT_TRUE(picker->isTracking());
    mapPan().report(State::Ended, {});
    ASSERT_EQ(announced.size(), 2u);
    EXPECT_FALSE(picker->isTracking());
    EXPECT_NE(announced[1], tapped);
    EXPECT_NEAR(pickerHSVOf(announced[1]).h, 2.0 / 20, 1e-9);
}

TEST_F(DragFixture, TheSliderAnnouncesBrightnessAsTheKnobMoves) {
    auto &pan = *slider().gestureRecognizers()[1];
    const double left = slider().frame().minX() + slider().controlFrame().minX();
    const double width = slider().controlFrame().width();
    pan.report(State::Began, {{left, 70}});
    for (int step = 1; step <= 30; ++step) {
        advance(10);
        pan.report(State::Changed, {{left + width * step / 30, 70}});
    }
    // Moves 10 ms apart for 300 ms: the first change is announced at once (20 ms), then one
    // every 70 ms.
    ASSERT_EQ(announced.size(), 5u);
    EXPECT_TRUE(picker->isTracking()) << "announced as part of a drag";
    for (std::size_t i = 1; i < announced.size(); ++i)
        EXPECT_LT(pickerHSVOf(announced[i]).v, pickerHSVOf(announced[i - 1]).v);
    pan.report(State::Ended, {});
    ASSERT_EQ(announced.size(), 6u);
    EXPECT_FLOAT_EQ(pickerHSVOf(announced.back()).v, 0.4);
}

// On the real clock: a finger that rests on a new tile before the wait is over still lights it,
// once the wait has passed, without moving again.
TEST_F(PickerFixture, AFingerRestingAfterAMoveGetsItsColourWhenTheWaitIsOver) {
    picker->setColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 1));
    picker->layoutIfNeeded();
    auto &pan = *map().gestureRecognizers()[1];
    const auto spinFor = [](int milliseconds) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    spinFor(100); // the picker's first wait, counted from its making
    pan.report(State::Began, {{8, 110}});
    pan.report(State::Changed, {{8, 110}});
    pan.report(State::Changed, {{40, 110}});
    ASSERT_EQ(announced.size(), 1u) << "the first change after a long wait goes at once";
    pan.report(State::Changed, {{72, 110}});
    pan.report(State::Changed, {{104, 110}});
    EXPECT_EQ(announced.size(), 1u) << "within the wait";
    spinFor(150);
    ASSERT_EQ(announced.size(), 2u) << "the resting finger's tile, once";
    EXPECT_NEAR(pickerHSVOf(announced[1]).h, 6.0 / 20, 1e-9);
    pan.report(State::Ended, {});
    EXPECT_EQ(announced.size(), 3u);
    spinFor(100);
    EXPECT_EQ(announced.size(), 3u) << "nothing after the end";
}
