#pragma once

#include "NSOperationQueue.h"
#include "QVColorCursor.h"
#include "QVProtocols.h"
#include "UIControl.h"
#include "UIGraphics.h"

#include <atomic>
#include <memory>
#include <mutex>

class UIGestureRecognizer;

// The hue/saturation map: hue across the columns, saturation down the rows, in square tiles;
// brightness is the opacity of the map over black. Its two images are rendered once, off the
// main thread, as soon as it has a usable frame, a tile size and a limit; it then fades in.
class QVColorMapView : public UIControl, public QVColorMapViewProtocol {
public:
    static std::shared_ptr<UIImage> colorMapImageWithSize(CGSize size, double tileSize,
                                                          double saturationUpperLimit);
    static std::shared_ptr<UIImage> backgroundImageWithSize(CGSize size, double tileSize);
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

    std::shared_ptr<CALayer> colorMapLayer() const;
    std::shared_ptr<CALayer> colorMapBackgroundLayer() const;
    QVColorCursor &colorCursor() const { return *colorCursor_; }
    const CALayer &lineLayer() const { return *lineLayer_; }
    // True once the rendered layers are in the layer tree.
    bool isShown() const { return shown_; }
    // Blocks until the rendering operation has run (for tests and benchmarks).
    void waitForRendering() { initializeQueue_.waitUntilAllOperationsAreFinished(); }

private:
    struct Geometry {
        CGSize size;
        float tile;
        float limit;
    };

    void init();
    void updateQueueSuspension();
    // The finger lifted at `lift`: the drag ends on the tile there.
    void endDrag(CGPoint lift);
    void createColorMapLayer(const Geometry &geometry);
    // Column and row counts of the frame; zero when there is no usable tile size.
    std::pair<int, int> grid(float tile) const;
    float tile() const { return static_cast<float>(tileSize_.value_or(0)); }
    float limit() const { return static_cast<float>(saturationUpperLimit_.value_or(0)); }

    std::optional<platform::UIColor> color_;
    double brightness_ = 0.5;
    std::optional<double> saturationUpperLimit_;
    std::shared_ptr<QVColorCursor> colorCursor_;
    NSOperationQueue initializeQueue_;
    bool didLayoutSubview_ = false;
    std::shared_ptr<CALayer> lineLayer_;
    std::optional<double> tileSize_;
    mutable std::mutex layersMutex_;
    std::shared_ptr<CALayer> colorMapLayer_;
    std::shared_ptr<CALayer> colorMapBackgroundLayer_;
    bool operationAdded_ = false;
    bool shown_ = false;
    // Taken on the main thread when the queue is let run, read by the operation.
    std::mutex geometryMutex_;
    Geometry geometry_{};
};
