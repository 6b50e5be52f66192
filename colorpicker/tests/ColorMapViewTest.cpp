#include "EventLoopWait.h"
#include "HSVColor.h"
#include "QVColorMapView.h"
#include "TouchPath.h"
#include "UIGestureRecognizer.h"
#include "UIScreen.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>

using platform::UIColor;
using State = UIGestureRecognizerState;

namespace {

HSVColor hsvOf(const UIColor &c) {
    HSVColor hsv;
    double a = 0;
    c.getHue(&hsv.h, &hsv.s, &hsv.v, &a);
    return hsv;
}

bool waitUntilShown(QVColorMapView &map) {
    return platform::testing::spinUntil([&] { return map.isShown(); });
}

struct MapFixture : ::testing::Test {
    std::shared_ptr<QVColorMapView> map =
        QVColorMapView::colorMapWithFrame(CGRectMake(0, 0, 320, 200), 0.9);
    std::string events;

    void SetUp() override {
        map->setTileSize(16);
        map->addTarget(
            this, [this](UIControl &) { events += "V"; }, UIControlEventValueChanged);
        map->addTarget(
            this, [this](UIControl &) { events += "E"; }, UIControlEventEditingDidEnd);
        map->layoutIfNeeded();
    }
    void tapAt(double x, double y) { map->gestureRecognizers()[0]->report(State::Ended, {{x, y}}); }
    UIGestureRecognizer &pan() { return *map->gestureRecognizers()[1]; }
};

} // namespace

TEST_F(MapFixture, GridOfWholeTilesFor320By200) {
    EXPECT_EQ(map->intrinsicContentSize(), (CGSize{320, 192}));
    auto image = QVColorMapView::colorMapImageWithSize({320, 200}, 16, 0.9);
    auto background = QVColorMapView::backgroundImageWithSize({320, 200}, 16);
    EXPECT_EQ(image->size(), (CGSize{320, 192}));
    EXPECT_EQ(background->size(), (CGSize{320, 192}));
}

TEST_F(MapFixture, ImagesShowHueAcrossSaturationDownOverBlack) {
    UIScreen::mainScreen().setScale(1);
    auto image = QVColorMapView::colorMapImageWithSize({320, 192}, 16, 0.9);
    auto background = QVColorMapView::backgroundImageWithSize({320, 192}, 16);
    UIScreen::mainScreen().setScale(2);
    const QImage &px = *image->CGImage();
    EXPECT_EQ(px.pixelColor(8, 8), QColor(255, 0, 0));
    EXPECT_EQ(px.pixelColor(10 * 16 + 8, 8), QColor(0, 255, 255)); // column 10 of 20: hue 0.5
    const QColor bottom = px.pixelColor(8, 11 * 16 + 8);           // saturation 0.1
    EXPECT_EQ(bottom.red(), 255);
    EXPECT_NEAR(bottom.green(), 230, 1);
    EXPECT_EQ(background->CGImage()->pixelColor(100, 100), QColor(0, 0, 0));
}

TEST_F(MapFixture, TapsSnapToTiles) {
    map->setBrightness(0.6);
    tapAt(3, 3);
    HSVColor c = hsvOf(*map->color());
    EXPECT_EQ(c.h, 0);
    EXPECT_EQ(c.s, 1);
    EXPECT_FLOAT_EQ(c.v, 0.6);
    tapAt(3, 11 * 16 + 2);
    EXPECT_NEAR(hsvOf(*map->color()).s, 1 - 0.9f, 1e-7);
    tapAt(100, 20);
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.3, 1e-12);
    EXPECT_EQ(events, "VEVEVE");
}

TEST_F(MapFixture, TouchesOnOrBeyondTheEdgesChangeNothing) {
    tapAt(5, 5);
    const auto before = map->color();
    events.clear();
    tapAt(320, 5);
    tapAt(5, 200);
    tapAt(-1, 5);
    EXPECT_EQ(events, "");
    EXPECT_EQ(map->color(), before);
    // The strip below the last whole row picks the bottom row, never a colour off the map.
    tapAt(5, 195);
    EXPECT_NEAR(hsvOf(*map->color()).s, 1 - 0.9f, 1e-7);
}

TEST_F(MapFixture, CursorGoesToTheNearestTile) {
    map->setColor(UIColor::colorWithHue(0.5, 1, 1, 1));
    EXPECT_EQ(map->colorCursor().transform(), CGAffineTransformMakeTranslation(160, 0));
    EXPECT_EQ(map->colorCursor().frame().origin, (CGPoint{-6, -6}));
    map->setColor(UIColor::colorWithHue(1.0, 1, 1, 1));
    EXPECT_EQ(map->colorCursor().transform().tx, 0);
    // Within half a column of the full turn wraps to column 0 instead of leaving the map.
    map->setColor(UIColor::colorWithHue(0.99, 1, 1, 1));
    EXPECT_EQ(map->colorCursor().transform().tx, 0);
    // Below the bottom row's saturation stays on the bottom row.
    map->setColor(UIColor::colorWithHue(0.25, 0.01, 1, 1));
    EXPECT_EQ(map->colorCursor().transform(), CGAffineTransformMakeTranslation(80, 176));
    map->setBrightness(0.1);
    EXPECT_EQ(map->colorCursor().transform(), CGAffineTransformMakeTranslation(80, 176));
}

TEST_F(MapFixture, RendersOnceFadesInAndFollowsBrightnessWithoutRedrawing) {
    ASSERT_TRUE(waitUntilShown(*map));
    EXPECT_EQ(map->alpha(), 1.0);
    EXPECT_EQ(UIView::lastAnimationDuration(), 0.2);
    auto layer = map->colorMapLayer();
    ASSERT_TRUE(layer);
    EXPECT_EQ(map->layer().sublayers()[0], map->colorMapBackgroundLayer());
    EXPECT_EQ(map->layer().sublayers()[1], layer);
    EXPECT_FLOAT_EQ(layer->opacity(), 0.5);
    auto contents = layer->contents();
    map->setBrightness(0.25);
    EXPECT_FLOAT_EQ(layer->opacity(), 0.25);
    EXPECT_EQ(layer->contents(), contents);
    tapAt(5, 5);
    EXPECT_FLOAT_EQ(hsvOf(*map->color()).v, 0.25);

    // A new tile size moves picking and the cursor, and the same layers show the new grid.
    map->setTileSize(32);
    map->layoutIfNeeded();
    map->waitForRendering();
    QCoreApplication::processEvents();
    EXPECT_EQ(map->colorMapLayer(), layer);
    EXPECT_EQ(layer->contents()->size(), QSize(10, 6));
    EXPECT_EQ(layer->contents()->pixelColor(5, 0), QColor(0, 255, 255)); // column 5 of 10
    EXPECT_EQ(layer->frame(), CGRectMake(0, 0, 320, 192));
    EXPECT_EQ(map->colorCursor().frame().origin, (CGPoint{2, 2}));
    tapAt(100, 5); // column 3 of 10
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.3, 1e-12);
}

// The main thread only hands the grid over and later puts the result in place; a window being
// resized must not wait for the map to be drawn.
TEST_F(MapFixture, RendersOnItsOwnQueueWhileTheMainThreadWaits) {
    EXPECT_FALSE(map->isShown());
    map->waitForRendering(); // the main thread blocked, no events handled
    auto layer = map->colorMapLayer();
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->contents()->size(), QSize(20, 12));
    EXPECT_EQ(layer->superlayer(), nullptr);
    EXPECT_FALSE(map->isShown());
    EXPECT_EQ(map->alpha(), 0);
    ASSERT_TRUE(waitUntilShown(*map));
    EXPECT_EQ(layer->superlayer(), &map->layer());

    // A new grid is rendered on the queue too, then shown by the same layers.
    map->setTileSize(32);
    map->layoutIfNeeded();
    map->waitForRendering();
    EXPECT_EQ(layer->contents()->size(), QSize(20, 12));
    QCoreApplication::processEvents();
    EXPECT_EQ(map->colorMapLayer(), layer);
    EXPECT_EQ(layer->contents()->size(), QSize(10, 6));

    // Two grids in a row before the main thread gets back: the last one is what stays.
    map->setTileSize(40);
    map->layoutIfNeeded();
    map->setFrame(CGRectMake(0, 0, 200, 100));
    map->setTileSize(20);
    map->layoutIfNeeded();
    map->waitForRendering();
    QCoreApplication::processEvents();
    EXPECT_EQ(layer->contents()->size(), QSize(10, 5));
    EXPECT_EQ(layer->frame(), CGRectMake(0, 0, 200, 100));
    EXPECT_EQ(map->colorMapBackgroundLayer()->frame(), CGRectMake(0, 0, 200, 100));
}

TEST(ColorMapView, ZeroFrameStaysInvisibleUntilUsable) {
    auto map = QVColorMapView::colorMapWithFrame(CGRectZero);
    map->setTileSize(16);
    map->layoutIfNeeded();
    QCoreApplication::processEvents();
    EXPECT_EQ(map->alpha(), 0);
    EXPECT_FALSE(map->colorMapLayer());
    map->setSaturationUpperLimit(std::nullopt);
    map->setFrame(CGRectMake(0, 0, 64, 64));
    map->layoutIfNeeded();
    QCoreApplication::processEvents();
    EXPECT_FALSE(map->colorMapLayer());
    map->setSaturationUpperLimit(0.9);
    ASSERT_TRUE(waitUntilShown(*map));
    EXPECT_EQ(map->alpha(), 1.0);
}

TEST(ColorMapView, TileSizeZeroNeverRendersOrPicks) {
    auto map = QVColorMapView::colorMapWithFrame(CGRectMake(0, 0, 64, 64));
    map->setTileSize(0);
    map->layoutIfNeeded();
    EXPECT_FALSE(map->isAbleToCreateColorMap());
    EXPECT_EQ(map->intrinsicContentSize(), (CGSize{0, 0}));
    int events = 0;
    map->addTarget(
        &events, [&](UIControl &) { ++events; }, UIControlEventValueChanged);
    map->gestureRecognizers()[0]->report(State::Ended, {{10, 10}});
    EXPECT_EQ(events, 0);
    map->setColor(UIColor::colorWithHue(0.5, 1, 1, 1));
    EXPECT_EQ(map->colorCursor().transform(), CGAffineTransformIdentity);
}

TEST(ColorMapView, SingleRowIsFullySaturated) {
    auto map = QVColorMapView::colorMapWithFrame(CGRectMake(0, 0, 64, 20), 0.9);
    map->setTileSize(16);
    map->layoutIfNeeded();
    map->gestureRecognizers()[0]->report(State::Ended, {{20, 5}});
    EXPECT_EQ(hsvOf(*map->color()).s, 1.0);
    map->setColor(UIColor::colorWithHue(0.25, 0.3, 1, 1));
    EXPECT_EQ(map->colorCursor().transform(), CGAffineTransformMakeTranslation(16, 0));
    UIScreen::mainScreen().setScale(1);
    auto image = QVColorMapView::colorMapImageWithSize({64, 20}, 16, 0.9);
    UIScreen::mainScreen().setScale(2);
    EXPECT_EQ(image->CGImage()->pixelColor(4, 4), QColor(255, 0, 0));
}

TEST_F(MapFixture, EndOfDragAnnouncesTheLastTileAndRestsTheCursor) {
    pan().report(State::Began, {{5, 5}});
    pan().report(State::Changed, {{40, 5}});
    EXPECT_TRUE(map->colorCursor().editing());
    pan().report(State::Changed, {{100, 5}});
    EXPECT_EQ(events, "VV");
    pan().report(State::Ended, {});
    EXPECT_EQ(events, "VVVE");
    EXPECT_FALSE(map->colorCursor().editing());
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.3, 1e-12);
}

TEST_F(MapFixture, QuickDragEndsOnTheTileWhereTheFingerLifts) {
    // One move of the pan's hysteresis or more, then release: Began and Ended, no Changed.
    drag(*map, {{5, 5}, {100, 5}, {100, 5}});
    EXPECT_EQ(events, "VE");
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.3, 1e-12); // column 6 of 20
    EXPECT_EQ(hsvOf(*map->color()).s, 1);
    // A second quick drag never falls back on the first one's end.
    events.clear();
    drag(*map, {{100, 5}, {200, 100}, {200, 100}});
    EXPECT_EQ(events, "VE");
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.6, 1e-12); // column 12
    EXPECT_NEAR(hsvOf(*map->color()).s, 1 - 0.9f * 6 / 11.0, 1e-6);
    EXPECT_FALSE(map->colorCursor().editing());
}

TEST_F(MapFixture, SlowDragEndsOnTheTileWhereTheFingerLifts) {
    // The release comes after the last move, on another tile.
    drag(*map, {{5, 5}, {40, 5}, {80, 5}, {120, 5}, {125, 40}});
    ASSERT_GE(events.size(), 2u) << events;
    EXPECT_EQ(events.substr(events.size() - 2), "VE");
    EXPECT_NEAR(hsvOf(*map->color()).h, 7 / 20.0, 1e-12);
    EXPECT_NEAR(hsvOf(*map->color()).s, 1 - 0.9f * 2 / 11.0, 1e-6);
}

TEST_F(MapFixture, DragLiftedOffTheMapEndsOnTheColourItShows) {
    drag(*map, {{5, 5}, {40, 5}, {100, 5}, {400, 5}, {400, 5}});
    ASSERT_GE(events.size(), 2u) << events;
    EXPECT_EQ(events.substr(events.size() - 2), "VE");
    EXPECT_NEAR(hsvOf(*map->color()).h, 0.3, 1e-12);
}
