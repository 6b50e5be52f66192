#pragma once

#include "QVColorCursor.h"
#include "QVProtocols.h"
#include "UIControl.h"
#include "UIGraphics.h"

#include <memory>

class UIGestureRecognizer;

// The hue/saturation map: hue across the columns, saturation down the rows, in square tiles;
// brightness is the opacity of the map over black. Its two images hold one pixel per tile and are
// shown stretched without smoothing: rendering them takes microseconds, so they are made at
// layout, on the main thread, whenever the grid changes (a new size, tile size or limit), and a
// map that is shown always shows the grid it picks from. It fades in the first time.
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

    std::shared_ptr<CALayer> colorMapLayer() const { return colorMapLayer_; }
    std::shared_ptr<CALayer> colorMapBackgroundLayer() const { return colorMapBackgroundLayer_; }
    QVColorCursor &colorCursor() const { return *colorCursor_; }
    const CALayer &lineLayer() const { return *lineLayer_; }
    // True once the rendered layers are in the layer tree.
    bool isShown() const { return shown_; }

private:
    struct Grid {
        int columns = 0;
        int rows = 0;
        float tile = 0;
        float limit = 0;
        bool operator==(const Grid &) const = default;
    };

    void init();
    // Renders the images for the grid the frame holds now, unless they show it already.
    void updateImages();
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
    std::shared_ptr<CALayer> colorMapLayer_;
    std::shared_ptr<CALayer> colorMapBackgroundLayer_;
    bool shown_ = false;
    std::optional<Grid> rendered_;
};
