#include "QVColorMapView.h"
#include "CATransaction.h"
#include "QVDragHelpers.h"
#include "UIGestureRecognizer.h"
#include "UIImage+CoreGraphics.h"
#include "UIScreen.h"

#include <algorithm>
#include <cmath>

using platform::UIColor;

namespace {

// Whole tiles of a length; none for a tile size that is zero, negative or not a number, and
// never more than a bitmap can hold.
int tilesIn(double length, float tile) {
    if (!(tile > 0) || !(length > 0))
        return 0;
    return static_cast<int>(std::min(length / tile, 65535.0));
}

// Saturation of a row; a single row is the fully saturated top row.
double rowSaturation(int row, int rows, float limit) {
    if (rows <= 1)
        return 1.0;
    return 1.0 - limit * row / (rows - 1);
}

// Hue across the columns, then white over each row, the more the lower its saturation.
QVImageRenderer colorMapRenderer(int columns, int rows, float t, float limit) {
    return [=](CGContextRef ctx, CGRect r) {
        for (int c = 0; c < columns; ++c) {
            CGContextSetFillColorWithColor(
                ctx, UIColor::colorWithHue(double(c) / columns, 1.0, 1.0, 1.0));
            CGContextFillRect(ctx, CGRectMake(r.minX() + t * c, r.minY(), t, r.height()));
        }
        for (int row = 0; row < rows; ++row) {
            CGContextSetFillColorWithColor(
                ctx, UIColor::colorWithRed(1, 1, 1, 1.0 - rowSaturation(row, rows, limit)));
            CGContextFillRect(ctx, CGRectMake(r.minX(), r.minY() + t * row, r.width(), t));
        }
    };
}

QVImageRenderer backgroundRenderer(int columns, int rows, float t) {
    return [=](CGContextRef ctx, CGRect r) {
        CGContextSetFillColorWithColor(ctx, UIColor::whiteColor());
        CGContextFillRect(ctx, r);
        CGContextSetFillColorWithColor(ctx, UIColor::colorWithWhite(0, 1));
        for (int row = 0; row < rows; ++row)
            for (int c = 0; c < columns; ++c)
                CGContextFillRect(ctx, CGRectMake(r.minX() + t * c, r.minY() + t * row, t, t));
    };
}

} // namespace

std::shared_ptr<UIImage> QVColorMapView::colorMapImageWithSize(CGSize size, double tileSize,
                                                               double saturationUpperLimit) {
    const float t = static_cast<float>(tileSize);
    const int columns = tilesIn(size.width, t), rows = tilesIn(size.height, t);
    return qv_tiledImageWithSize(
        {columns * t, rows * double(t)}, t,
        colorMapRenderer(columns, rows, t, static_cast<float>(saturationUpperLimit)));
}

std::shared_ptr<UIImage> QVColorMapView::backgroundImageWithSize(CGSize size, double tileSize) {
    const float t = static_cast<float>(tileSize);
    const int columns = tilesIn(size.width, t), rows = tilesIn(size.height, t);
    return qv_tiledImageWithSize({columns * t, rows * double(t)}, t,
                                 backgroundRenderer(columns, rows, t));
}

std::shared_ptr<UIImage> QVColorMapView::colorMapTilesWithSize(CGSize size, double tileSize,
                                                               double saturationUpperLimit) {
    const float t = static_cast<float>(tileSize);
    const int columns = tilesIn(size.width, t), rows = tilesIn(size.height, t);
    return qv_tileImageWithSize(
        {columns * t, rows * double(t)}, t,
        colorMapRenderer(columns, rows, t, static_cast<float>(saturationUpperLimit)));
}

std::shared_ptr<UIImage> QVColorMapView::backgroundTilesWithSize(CGSize size, double tileSize) {
    const float t = static_cast<float>(tileSize);
    const int columns = tilesIn(size.width, t), rows = tilesIn(size.height, t);
    return qv_tileImageWithSize({columns * t, rows * double(t)}, t,
                                backgroundRenderer(columns, rows, t));
}

std::shared_ptr<QVColorMapView> QVColorMapView::colorMapWithFrame(CGRect frame) {
    return colorMapWithFrame(frame, 0.95);
}

std::shared_ptr<QVColorMapView> QVColorMapView::colorMapWithFrame(CGRect frame, double limit) {
    return std::make_shared<QVColorMapView>(frame, limit);
}

QVColorMapView::QVColorMapView() : QVColorMapView(CGRectZero, 0.95) {}

QVColorMapView::QVColorMapView(CGRect frame, double limit) : UIControl(frame) {
    saturationUpperLimit_ = limit;
    init();
}

QVColorMapView::~QVColorMapView() = default;

void QVColorMapView::init() {
    setAlpha(0);
    didLayoutSubview_ = false;
    setBrightness(0.5);
    setBackgroundColor(UIColor::whiteColor());

    const double s = UIScreen::mainScreen().scale();
    lineLayer_ = CALayer::layer();
    lineLayer_->setBackgroundColor(UIColor::colorWithWhite(0.7, 1.0));
    lineLayer_->setFrame(CGRectMake(0, -1 / s, frame().width(), 1 / s));
    layer().addSublayer(lineLayer_);

    const double offset = -(QVColorCursor::cursorSize().width - tile()) / 2;
    colorCursor_ = QVColorCursor::colorCursorWithPoint({offset, offset});
    addSubview(colorCursor_);

    addGestureRecognizer(
        std::make_shared<UITapGestureRecognizer>([this](UIGestureRecognizer &r) { handleTap(r); }));
    addGestureRecognizer(
        std::make_shared<UIPanGestureRecognizer>([this](UIGestureRecognizer &r) { handlePan(r); }));

    initializeQueue_.setSuspended(true);
}

bool QVColorMapView::isAbleToCreateColorMap() const {
    const CGRect f = frame();
    return didLayoutSubview_ && !f.isNull() && !f.isEmpty() && f != CGRectZero &&
           saturationUpperLimit_.has_value() && tileSize_.has_value() && tile() > 0;
}

QVColorMapView::Grid QVColorMapView::currentGrid() const {
    const float t = tile();
    const auto [columns, rows] = grid(t);
    return {columns, rows, t, limit()};
}

QVColorMapView::Images QVColorMapView::renderImages(const Grid &g) {
    const CGSize size{g.columns * double(g.tile), g.rows * double(g.tile)};
    return {colorMapTilesWithSize(size, g.tile, g.limit), backgroundTilesWithSize(size, g.tile)};
}

void QVColorMapView::updateQueueSuspension() {
    const bool ready = isAbleToCreateColorMap();
    const Grid wanted = currentGrid();
    if (ready && wanted.columns >= 1 && wanted.rows >= 1 && requested_ != wanted) {
        requested_ = wanted;
        // Held weakly until they run, so a map that never gets ready is not kept alive by them.
        std::weak_ptr<UIView> weak = weak_from_this();
        if (!operationAdded_) {
            operationAdded_ = true;
            initializeQueue_.addOperation([weak, wanted] {
                auto strong = std::static_pointer_cast<QVColorMapView>(weak.lock());
                if (!strong)
                    return;
                strong->createColorMapLayer(wanted);
                // Moved, so that the map's last owner lets go of it on the main thread.
                dispatchAsyncMain(
                    [strong = std::move(strong), wanted] { strong->showColorMapLayers(wanted); });
            });
        } else {
            initializeQueue_.addOperation([weak, wanted] {
                const Images images = renderImages(wanted);
                dispatchAsyncMain([weak, wanted, images] {
                    if (auto strong = std::static_pointer_cast<QVColorMapView>(weak.lock()))
                        strong->applyImages(wanted, images);
                });
            });
        }
    }
    initializeQueue_.setSuspended(!ready);
}

void QVColorMapView::waitForRendering() {
    // Held back, the queue would never finish.
    if (!initializeQueue_.isSuspended())
        initializeQueue_.waitUntilAllOperationsAreFinished();
}

void QVColorMapView::createColorMapLayer(const Grid &g) {
    if (colorMapLayer())
        return;
    const Images images = renderImages(g);
    if (!images.map || !images.background)
        return;
    const CGRect frame{{0, 0}, {g.columns * double(g.tile), g.rows * double(g.tile)}};
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    auto mapLayer = CALayer::layerWithLayer(layer());
    mapLayer->setFrame(frame);
    mapLayer->setContents(images.map->CGImage());
    auto backLayer = CALayer::layerWithLayer(layer());
    backLayer->setFrame(frame);
    backLayer->setContents(images.background->CGImage());
    CATransaction::commit();
    colorMapBackgroundLayer_.store(backLayer);
    colorMapLayer_.store(mapLayer);
}

void QVColorMapView::showColorMapLayers(const Grid &g) {
    auto mapLayer = colorMapLayer();
    auto backLayer = colorMapBackgroundLayer();
    if (!mapLayer || !backLayer) {
        // Nothing could be rendered for that grid: the next usable one starts over.
        operationAdded_ = false;
        if (requested_ != g) {
            requested_.reset();
            updateQueueSuspension();
        }
        return;
    }
    layer().insertSublayer(backLayer, 0);
    layer().insertSublayer(mapLayer, 1);
    mapLayer->setOpacity(static_cast<float>(brightness_));
    invalidateIntrinsicContentSize();
    shown_ = true;
    UIView::animateWithDuration(0.2, [this] { setAlpha(1.0); });
}

void QVColorMapView::applyImages(const Grid &g, const Images &images) {
    auto mapLayer = colorMapLayer();
    auto backLayer = colorMapBackgroundLayer();
    if (requested_ != g || !mapLayer || !backLayer || !images.map || !images.background)
        return;
    const CGRect frame{{0, 0}, {g.columns * double(g.tile), g.rows * double(g.tile)}};
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    backLayer->setFrame(frame);
    backLayer->setContents(images.background->CGImage());
    mapLayer->setFrame(frame);
    mapLayer->setContents(images.map->CGImage());
    CATransaction::commit();
}

void QVColorMapView::setSaturationUpperLimit(std::optional<double> limit) {
    saturationUpperLimit_ = limit;
    updateQueueSuspension();
}

void QVColorMapView::setTileSize(std::optional<double> tileSize) {
    tileSize_ = tileSize;
    updateQueueSuspension();
    const double offset = -(QVColorCursor::cursorSize().width - tile()) / 2;
    CGRect f = colorCursor_->frame();
    f.origin = {offset, offset};
    colorCursor_->setFrame(f);
}

void QVColorMapView::setColor(const UIColor &color) {
    color_ = color;
    updateColorCursor();
}

void QVColorMapView::setBrightness(double brightness) {
    brightness_ = brightness;
    CATransaction::begin();
    CATransaction::setDisableActions(true);
    if (auto map = colorMapLayer())
        map->setOpacity(static_cast<float>(brightness));
    CATransaction::commit();
}

void QVColorMapView::layoutSubviews() {
    updateColorCursor();
    didLayoutSubview_ = true;
    updateQueueSuspension();
}

std::pair<int, int> QVColorMapView::grid(float t) const {
    return {tilesIn(frame().width(), t), tilesIn(frame().height(), t)};
}

CGSize QVColorMapView::intrinsicContentSize() const {
    const float t = tile();
    const auto [columns, rows] = grid(t);
    return {columns * double(t), rows * double(t)};
}

void QVColorMapView::updateColorCursor() {
    if (!color_)
        return;
    const float t = tile();
    const auto [columns, rows] = grid(t);
    if (columns < 1 || rows < 1)
        return;
    double h = 0, s = 0, v = 0, a = 0;
    color_->getHue(&h, &s, &v, &a);
    if (h == 1.0)
        h = 0;
    // Hue goes round: within half a column of a full turn is column 0 again. Saturation below
    // the bottom row's stays on the bottom row.
    int column = static_cast<int>(h * columns + 0.5) % columns;
    column = std::clamp(column, 0, columns - 1);
    const float l = limit();
    int row = 0;
    if (rows > 1 && l > 0)
        row = std::clamp(static_cast<int>((1 - s) / l * (rows - 1) + 0.5), 0, rows - 1);
    colorCursor_->setColor(*color_);
    colorCursor_->setTransform(CGAffineTransformMakeTranslation(column * t, row * t));
}

void QVColorMapView::update(CGPoint point, bool sendUpdates) {
    const CGRect f = frame();
    if (!CGRectMake(0, 0, f.width(), f.height()).contains(point))
        return;
    const float t = tile();
    const auto [columns, rows] = grid(t);
    if (columns < 1 || rows < 1)
        return;
    // The strip beyond the last whole tile picks the tile next to it.
    const int column = std::min(static_cast<int>(point.x / t), columns - 1);
    const int row = std::min(static_cast<int>(point.y / t), rows - 1);
    const double hue = double(column) / columns;
    const double saturation = rowSaturation(row, rows, limit());
    color_ = UIColor::colorWithHue(hue, saturation, brightness_, 1.0);
    updateColorCursor();
    // The value first, so that whoever acts on the end of editing reads the new colour.
    sendActionsForControlEvents(UIControlEventValueChanged);
    if (sendUpdates)
        sendActionsForControlEvents(UIControlEventEditingDidEnd);
}

void QVColorMapView::handleTap(UIGestureRecognizer &recognizer) {
    if (recognizer.state() == UIGestureRecognizerState::Ended && recognizer.numberOfTouches() >= 1)
        update(recognizer.locationOfTouch(0, this), true);
}

void QVColorMapView::handlePan(UIGestureRecognizer &recognizer) {
    const auto step = qv_panStep(recognizer, this);
    if (!step)
        return;
    if (step->touching) {
        update(step->location, step->ended);
        if (colorCursor_->respondsToSetEditing())
            colorCursor_->setEditing(true);
        return;
    }
    if (colorCursor_->respondsToSetEditing())
        colorCursor_->setEditing(false);
    if (step->ended)
        endDrag(step->location);
}

void QVColorMapView::endDrag(CGPoint lift) {
    if (bounds().contains(lift)) {
        update(lift, true);
        return;
    }
    // Lifted off the map: the drag ends on the colour it shows.
    if (!color_)
        return;
    sendActionsForControlEvents(UIControlEventValueChanged);
    sendActionsForControlEvents(UIControlEventEditingDidEnd);
}
