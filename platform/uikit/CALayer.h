#pragma once

#include "CGGeometry.h"
#include "UIColor.h"

#include <QImage>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QPainter;
struct CGContext;

// A rectangle of the layer tree: background, rounded corners, border, opacity, a transform about
// its centre, image contents and sublayers. Painted with QPainter; nothing animates implicitly.
class CALayer : public std::enable_shared_from_this<CALayer> {
public:
    CALayer() = default;
    virtual ~CALayer();
    CALayer(const CALayer &) = delete;
    CALayer &operator=(const CALayer &) = delete;

    static std::shared_ptr<CALayer> layer() { return std::make_shared<CALayer>(); }
    // A fresh layer made "from" another one: the model layer's drawing is not copied, so the new
    // layer shows only what it is given.
    static std::shared_ptr<CALayer> layerWithLayer(const CALayer &) { return layer(); }

    CGRect frame() const { return frame_; }
    void setFrame(CGRect frame) {
        if (frame == frame_)
            return;
        frame_ = frame;
        changed();
    }
    CGRect bounds() const { return {{0, 0}, frame_.size}; }

    double cornerRadius() const { return cornerRadius_; }
    void setCornerRadius(double radius) {
        cornerRadius_ = radius;
        changed();
    }
    double borderWidth() const { return borderWidth_; }
    void setBorderWidth(double width) {
        borderWidth_ = width;
        changed();
    }
    std::optional<platform::UIColor> borderColor() const { return borderColor_; }
    void setBorderColor(std::optional<platform::UIColor> color) {
        borderColor_ = color;
        changed();
    }
    std::optional<platform::UIColor> backgroundColor() const { return backgroundColor_; }
    void setBackgroundColor(std::optional<platform::UIColor> color) {
        backgroundColor_ = color;
        changed();
    }
    float opacity() const { return opacity_; }
    void setOpacity(float opacity) {
        if (opacity == opacity_)
            return;
        opacity_ = opacity;
        changed();
    }
    CATransform3D transform() const { return transform_; }
    void setTransform(const CATransform3D &transform) {
        transform_ = transform;
        changed();
    }

    // The bitmap shown across the bounds (the platform's CGImage).
    std::shared_ptr<const QImage> contents() const { return contents_; }
    void setContents(std::shared_ptr<const QImage> image) {
        contents_ = std::move(image);
        changed();
    }

    const std::vector<std::shared_ptr<CALayer>> &sublayers() const { return sublayers_; }
    CALayer *superlayer() const { return superlayer_; }
    void addSublayer(const std::shared_ptr<CALayer> &layer);
    void insertSublayer(const std::shared_ptr<CALayer> &layer, std::size_t index);
    void removeFromSuperlayer();

    // Draws the owner's own content (a view's drawRect) between background and sublayers.
    void setDrawDelegate(std::function<void(CGContext *, CGRect)> draw) { draw_ = std::move(draw); }
    // The owner's drawing has changed.
    void setNeedsDisplay() { changed(); }

    // Paints the layer and its sublayers, the painter's origin being the superlayer's.
    void render(QPainter &painter) const;

    // What shows layers on screen hears here, on the main thread and once per turn of the event
    // loop however many changes there were (from any thread), that it has to repaint: as on the
    // platform, a change reaches the screen without anyone asking for it.
    static int addDisplayObserver(std::function<void()> observer);
    static void removeDisplayObserver(int id);

protected:
    // Any change of what a layer shows.
    static void changed();

    virtual void paintBackground(QPainter &painter) const;

private:
    CGRect frame_;
    double cornerRadius_ = 0;
    double borderWidth_ = 0;
    std::optional<platform::UIColor> borderColor_ = platform::UIColor::blackColor();
    std::optional<platform::UIColor> backgroundColor_;
    float opacity_ = 1;
    CATransform3D transform_;
    std::shared_ptr<const QImage> contents_;
    std::vector<std::shared_ptr<CALayer>> sublayers_;
    CALayer *superlayer_ = nullptr;
    std::function<void(CGContext *, CGRect)> draw_;
};

// A layer whose background is a linear gradient between its colours, spaced evenly, from
// startPoint to endPoint in unit coordinates of the bounds.
class CAGradientLayer : public CALayer {
public:
    static std::shared_ptr<CAGradientLayer> layer() { return std::make_shared<CAGradientLayer>(); }
    static std::shared_ptr<CAGradientLayer> layerWithLayer(const CALayer &) { return layer(); }

    const std::vector<platform::UIColor> &colors() const { return colors_; }
    void setColors(std::vector<platform::UIColor> colors) {
        colors_ = std::move(colors);
        changed();
    }
    CGPoint startPoint() const { return start_; }
    void setStartPoint(CGPoint p) {
        start_ = p;
        changed();
    }
    CGPoint endPoint() const { return end_; }
    void setEndPoint(CGPoint p) {
        end_ = p;
        changed();
    }

protected:
    void paintBackground(QPainter &painter) const override;

private:
    std::vector<platform::UIColor> colors_;
    CGPoint start_{0.5, 0};
    CGPoint end_{0.5, 1};
};

// Converts the platform colour to the toolkit's at painting time only.
QColor toQColor(const platform::UIColor &color);
