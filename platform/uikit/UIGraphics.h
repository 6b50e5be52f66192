#pragma once

#include "CGGeometry.h"
#include "UIColor.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <memory>

// The drawing context handed to renderers and drawRect: a painter in points plus the fill colour.
struct CGContext {
    QPainter *painter = nullptr;
    platform::UIColor fill = platform::UIColor::blackColor();
};
using CGContextRef = CGContext *;

void CGContextSetFillColorWithColor(CGContextRef context, const platform::UIColor &color);
void CGContextFillRect(CGContextRef context, CGRect rect);

// A bitmap image in points: pixels = points × scale.
class UIImage {
public:
    UIImage(QImage pixels, double scale)
        : pixels_(std::make_shared<const QImage>(std::move(pixels))), scale_(scale) {}

    CGSize size() const { return {pixels_->width() / scale_, pixels_->height() / scale_}; }
    double scale() const { return scale_; }
    std::shared_ptr<const QImage> CGImage() const { return pixels_; }

private:
    std::shared_ptr<const QImage> pixels_;
    double scale_;
};

// The per-thread stack of bitmap contexts. A scale of 0 means the main screen's.
void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, double scale);
CGContextRef UIGraphicsGetCurrentContext();
std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext();
void UIGraphicsEndImageContext();

// Rounded-rectangle paths with a chosen set of rounded corners.
enum UIRectCorner : unsigned {
    UIRectCornerTopLeft = 1 << 0,
    UIRectCornerTopRight = 1 << 1,
    UIRectCornerBottomLeft = 1 << 2,
    UIRectCornerBottomRight = 1 << 3,
    UIRectCornerAllCorners = 15,
};

class UIBezierPath {
public:
    static UIBezierPath bezierPathWithRoundedRect(CGRect rect, unsigned corners, CGSize radii);
    void closePath() { path_.closeSubpath(); }
    void fill(CGContextRef context) const;
    const QPainterPath &path() const { return path_; }

private:
    QPainterPath path_;
};
