#include "UIGraphics.h"
#include "CALayer.h"
#include "UIScreen.h"

#include <cmath>
#include <vector>

void CGContextSetFillColorWithColor(CGContextRef context, const platform::UIColor &color) {
    if (context)
        context->fill = color;
}

void CGContextFillRect(CGContextRef context, CGRect rect) {
    if (!context || !context->painter)
        return;
    context->painter->fillRect(QRectF(rect.minX(), rect.minY(), rect.width(), rect.height()),
                               toQColor(context->fill));
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
    entry->pixels =
        QImage(w, h, opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied);
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
