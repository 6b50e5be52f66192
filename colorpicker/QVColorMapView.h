#pragma once

#include "NSOperationQueue.h"
#include "QVColorCursor.h"
#include "QVProtocols.h"
#include "UIControl.h"
#include "UIGraphics.h"

#include <atomic>
#include <memory>

class UIGestureRecognizer;

// The hue/saturation map: hue across the columns, saturation down the rows, in square tiles;
// brightness is the opacity of the map over black. Its two images hold one pixel per tile and are
// shown stretched without smoothing. They are rendered off the main thread, on the map's own
// queue, which runs only while the map has a usable frame, a tile size and a limit; the map then
// fades in. A later change of grid (size, tile size or limit) renders them again the same way,
// so that a map that is shown ends up showing the grid it picks from.
class QVColorMapView : public UIControl, public QVColorMapViewProtocol {
public:
    static std::shared_ptr<UIImage> colorMapImageWithSize(CGSize size, double tileSize,
                                                          double saturationUpperLimit);
    static std::shared_ptr<UIImage> backgroundImageWithSize(CGSize size, double tileSize);
    // The same two pictures at one pixel per tile, as the map shows them; null without a tile.
    static std::shared_ptr<UIImage> colorMapTilesWithSize(CGSize size, double tileSize,
                                                          double saturationUpperLimit);
    static std::shared_ptr<UIImage> backgroundTilesWithSize(CGSize size, double tileSize);
    static std::shared_ptr<QVColorMapView> colorMapWithFrame(CGRect frame);
    static std::shared_ptr<QVColorMapView> colorMapWithFrame(CGRect frame,
                                                             double saturationUpperLimit);

    QVColorMapView();
    QVColorMapView(CGRect frame, double saturationUpperLimit);
    ~QVColorMapView() override;

    std::optional<platform::UIColor> color() const override { return color_; }
    void setColor(const platform::UIColor &color) override;
    double brightness() const override { return brightness_; }
    void setBrightness(double brightness) override;
    std::optional<double> saturationUpperLimit() const { return saturationUpperLimit_; }
    void setSaturationUpperLimit(std::optional<double> limit);
    std::optional<double> tileSize() const { return tileSize_; }
    void setTileSize(std::optional<double> tileSize);

    void layoutSubviews() override;
    CGSize intrinsicContentSize() const override;
    bool isAbleToCreateColorMap() const;
    void updateColorCursor();

    void handleTap(UIGestureRecognizer &recognizer);
    void handlePan(UIGestureRecognizer &recognizer);
    void update(CGPoint point, bool sendUpdates);

    std::shared_ptr<CALayer> colorMapLayer() const { return colorMapLayer_.load(); }
    std::shared_ptr<CALayer> colorMapBackgroundLayer() const {
        return colorMapBackgroundLayer_.load();
    }
    QVColorCursor &colorCursor() const { return *colorCursor_; }
    const CALayer &lineLayer() const { return *lineLayer_; }
    // True once the rendered layers are in the layer tree.
    bool isShown() const { return shown_; }
    // Blocks until the queue has rendered what it was given, unless it is held back because the
    // map is not ready (for tests and benchmarks).
    void waitForRendering();

private:
    struct Grid {
        int columns = 0;
        int rows = 0;
        float tile = 0;
        float limit = 0;
        bool operator==(const Grid &) const = default;
    };

    struct Images {
        std::shared_ptr<UIImage> map;
        std::shared_ptr<UIImage> background;
    };

    void init();
    // Lets the queue run exactly while the map is ready, and gives it the grid to render when
    // that is not the one it was last given.
    void updateQueueSuspension();
    // The grid the frame holds now.
    Grid currentGrid() const;
    static Images renderImages(const Grid &grid);
    // On the queue's thread: the first images and the layers that show them.
    void createColorMapLayer(const Grid &grid);
    // On the main thread: puts the first layers in the tree and fades the map in.
    void showColorMapLayers(const Grid &grid);
    // On the main thread: images of a later grid, unless the grid has changed again since.
    void applyImages(const Grid &grid, const Images &images);
    // The finger lifted at `lift`: the drag ends on the tile there.
    void endDrag(CGPoint lift);
    // Column and row counts of the frame; zero when there is no usable tile size.
    std::pair<int, int> grid(float tile) const;
    float tile() const { return static_cast<float>(tileSize_.value_or(0)); }
    float limit() const { return static_cast<float>(saturationUpperLimit_.value_or(0)); }

    std::optional<platform::UIColor> color_;
    double brightness_ = 0.5;
    std::optional<double> saturationUpperLimit_;
    std::shared_ptr<QVColorCursor> colorCursor_;
    bool didLayoutSubview_ = false;
    std::shared_ptr<CALayer> lineLayer_;
    std::optional<double> tileSize_;
    NSOperationQueue initializeQueue_;
    // Made on the queue's thread, read on the main thread.
    std::atomic<std::shared_ptr<CALayer>> colorMapLayer_;
    std::atomic<std::shared_ptr<CALayer>> colorMapBackgroundLayer_;
    bool operationAdded_ = false;
    bool shown_ = false;
    // The grid last given to the queue (main thread only).
    std::optional<Grid> requested_;
};
