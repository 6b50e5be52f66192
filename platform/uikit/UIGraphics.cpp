#include "UIGraphics.h"
#include "BitmapStore.h"
#include "CALayer.h"
#include "UIScreen.h"

#include <algorithm>
#include <cmath>
#include <vector>

void CGContextSetFillColorWithColor(CGContextRef context, const platform::UIColor &color) {
    if (context)
        context->fill = color;
}

namespace {

// The pixel edge a coordinate lands on, or -1 when it falls between pixels.
int wholePixel(double coordinate) {
    const double nearest = std::round(coordinate);
    return std::abs(coordinate - nearest) < 1e-6 ? static_cast<int>(nearest) : -1;
}

// Opaque fills of whole pixels on a bitmap under a plain scale are written straight into its
// rows: the same pixels the raster engine would fill, without its cost per call (the colour
// map's background is nearly a thousand of them). Anything else is left to the painter.
bool fillWholePixels(QPainter &painter, const QRectF &rect, const QColor &color) {
    if (color.alpha() != 255 || !painter.device() ||
        painter.device()->devType() != QInternal::Image)
        return false;
    auto &image = *static_cast<QImage *>(painter.device());
    const auto format = image.format();
    if ((format != QImage::Format_ARGB32_Premultiplied && format != QImage::Format_RGB32 &&
         format != QImage::Format_ARGB32) ||
        !image.isDetached() || image.devicePixelRatio() != 1 ||
        painter.transform().type() > QTransform::TxScale || painter.hasClipping() ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        painter.opacity() != 1.0)
        return false;
    const QRectF mapped = painter.transform().mapRect(rect.normalized());
    int x1 = wholePixel(mapped.left()), x2 = wholePixel(mapped.right());
    int y1 = wholePixel(mapped.top()), y2 = wholePixel(mapped.bottom());
    if (x1 < 0 || x2 < 0 || y1 < 0 || y2 < 0)
        return false;
    x2 = std::min(x2, image.width());
    y2 = std::min(y2, image.height());
    const QRgb pixel = color.rgba();
    for (int y = y1; y < y2; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        std::fill(line + x1, line + std::max(x1, x2), pixel);
    }
    return true;
}

} // namespace

void CGContextFillRect(CGContextRef context, CGRect rect) {
    if (!context || !context->painter)
        return;
    const QRectF r(rect.minX(), rect.minY(), rect.width(), rect.height());
    const QColor color = toQColor(context->fill);
    if (!fillWholePixels(*context->painter, r, color))
        context->painter->fillRect(r, color);
}

namespace {

struct ImageContext {
    QImage pixels;
    double scale;
    std::unique_ptr<QPainter> painter;
    CGContext context;
    bool restart = false;
};

thread_local std::vector<std::unique_ptr<ImageContext>> imageContexts;

} // namespace

void UIGraphicsBeginImageContextWithOptions(CGSize size, bool opaque, double scale) {
    if (scale <= 0)
        scale = UIScreen::mainScreen().scale();
    auto entry = std::make_unique<ImageContext>();
    const int w = std::max(0, static_cast<int>(std::ceil(size.width * scale)));
    const int h = std::max(0, static_cast<int>(std::ceil(size.height * scale)));
    entry->pixels = BitmapStore::take(
        w, h, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
    entry->pixels.fill(opaque ? Qt::black : Qt::transparent);
    entry->scale = scale;
    if (!entry->pixels.isNull()) {
        entry->painter = std::make_unique<QPainter>(&entry->pixels);
        entry->painter->scale(scale, scale);
    }
    entry->context.painter = entry->painter.get();
    imageContexts.push_back(std::move(entry));
}

CGContextRef UIGraphicsGetCurrentContext() {
    if (imageContexts.empty())
        return nullptr;
    ImageContext &top = *imageContexts.back();
    if (top.restart && top.painter) {
        top.restart = false;
        top.painter->begin(&top.pixels);
        top.painter->scale(top.scale, top.scale);
    }
    return &top.context;
}

std::shared_ptr<UIImage> UIGraphicsGetImageFromCurrentImageContext() {
    if (imageContexts.empty())
        return nullptr;
    ImageContext &top = *imageContexts.back();
    // Drawing after this point goes to a fresh painter on a copy, so the image handed out
    // shares its pixels instead of being copied.
    if (top.painter && top.painter->isActive())
        top.painter->end();
    auto image = std::make_shared<UIImage>(top.pixels, top.scale);
    top.restart = true;
    return image;
}

void UIGraphicsEndImageContext() {
    if (!imageContexts.empty())
        imageContexts.pop_back();
}

UIBezierPath UIBezierPath::bezierPathWithRoundedRect(CGRect rect, unsigned corners, CGSize radii) {
    UIBezierPath result;
    const double x = rect.minX(), y = rect.minY(), w = rect.width(), h = rect.height();
    const double rx = std::min(radii.width, w / 2), ry = std::min(radii.height, h / 2);
    QPainterPath &p = result.path_;
    auto corner = [&](UIRectCorner c) { return (corners & c) != 0; };
    p.moveTo(x + (corner(UIRectCornerTopLeft) ? rx : 0), y);
    if (corner(UIRectCornerTopRight)) {
        p.lineTo(x + w - rx, y);
        p.arcTo(x + w - 2 * rx, y, 2 * rx, 2 * ry, 90, -90);
    } else {
        p.lineTo(x + w, y);
    }
    if (corner(UIRectCornerBottomRight)) {
        p.lineTo(x + w, y + h - ry);
        p.arcTo(x + w - 2 * rx, y + h - 2 * ry, 2 * rx, 2 * ry, 0, -90);
    } else {
        p.lineTo(x + w, y + h);
    }
    if (corner(UIRectCornerBottomLeft)) {
        p.lineTo(x + rx, y + h);
        p.arcTo(x, y + h - 2 * ry, 2 * rx, 2 * ry, 270, -90);
    } else {
        p.lineTo(x, y + h);
    }
    if (corner(UIRectCornerTopLeft)) {
        p.lineTo(x, y + ry);
        p.arcTo(x, y, 2 * rx, 2 * ry, 180, -90);
    } else {
        p.lineTo(x, y);
    }
    return result;
}

void UIBezierPath::fill(CGContextRef context) const {
    if (!context || !context->painter)
        return;
    context->painter->fillPath(path_, toQColor(context->fill));
}
