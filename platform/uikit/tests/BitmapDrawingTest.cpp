#include "BitmapStore.h"
#include "CALayer.h"
#include "UIGraphics.h"

#include <gtest/gtest.h>
#include <thread>

using platform::UIColor;

namespace {

struct Fill {
    CGRect rect;
    UIColor color;
};

// Through the context's fills, or the painter's own.
QImage draw(const std::vector<Fill> &fills, QSize size, double scale, bool throughContext) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    CGContext context{&painter};
    for (const Fill &f : fills) {
        CGContextSetFillColorWithColor(&context, f.color);
        if (throughContext)
            CGContextFillRect(&context, f.rect);
        else
            painter.fillRect(QRectF(f.rect.minX(), f.rect.minY(), f.rect.width(), f.rect.height()),
                             toQColor(f.color));
    }
    return image;
}

} // namespace

// The direct row fills must leave exactly what the raster engine leaves, also where they give
// way to it (translucent colours, edges between pixels, rectangles off the bitmap).
TEST(BitmapDrawing, FillsMatchThePainterPixelForPixel) {
    const std::vector<Fill> fills = {
        {CGRectMake(0, 0, 20, 10), UIColor::colorWithRed(0.1, 0.6, 0.3333, 1)},
        {CGRectMake(2, 1, 3, 4), UIColor::colorWithHue(0.71, 0.9, 0.8, 1)},
        {CGRectMake(4, 2, 6, 6), UIColor::colorWithWhite(1, 0.45)},
        {CGRectMake(1.25, 6.1, 3.3, 2.2), UIColor::colorWithRed(0, 0, 1, 1)},
        {CGRectMake(15, 7, 20, 20), UIColor::colorWithRed(1, 0.5, 0, 1)},
        {CGRectMake(-3, -2, 5, 4), UIColor::colorWithRed(0.9, 0.1, 0.9, 1)},
        {CGRectMake(12, 3, -4, 2), UIColor::colorWithRed(0.3, 0.3, 0.3, 1)},
        {CGRectMake(6, 0, 3, 10), UIColor::colorWithRed(2, -1, 0.5, 1)},
    };
    for (double scale : {1.0, 2.0, 3.0, 1.5}) {
        SCOPED_TRACE(scale);
        const QSize size(int(20 * scale), int(10 * scale));
        EXPECT_TRUE(draw(fills, size, scale, true) == draw(fills, size, scale, false));
    }
}

TEST(BitmapDrawing, ReleasedPixelsServeTheNextBitmapOfTheirSize) {
    BitmapStore::purge();
    const uchar *first = nullptr;
    {
        QImage image = BitmapStore::take(640, 480, QImage::Format_ARGB32_Premultiplied);
        ASSERT_FALSE(image.isNull());
        first = image.constBits();
        image.fill(Qt::red);
        // Released on another thread, as a layer's contents may be.
        std::thread([moved = std::move(image)]() mutable { moved = QImage(); }).join();
    }
    EXPECT_EQ(BitmapStore::storedBytes(), size_t(640) * 480 * 4);
    QImage other = BitmapStore::take(480, 640, QImage::Format_RGB32);
    EXPECT_EQ(other.constBits(), first);
    EXPECT_EQ(BitmapStore::storedBytes(), 0u);
    QImage larger = BitmapStore::take(641, 480, QImage::Format_ARGB32_Premultiplied);
    EXPECT_NE(larger.constBits(), first);

    // A copy that is written to gets pixels of its own; the stored memory stays the image's.
    QImage copy = other;
    copy.fill(Qt::blue);
    EXPECT_EQ(other.constBits(), first);
    other.fill(Qt::green);
    EXPECT_EQ(copy.pixelColor(0, 0), QColor(Qt::blue));
}

TEST(BitmapDrawing, StoreKeepsABoundedAmountAndContextsStartTransparent) {
    BitmapStore::purge();
    {
        std::vector<QImage> images;
        for (int i = 0; i < 8; ++i)
            images.push_back(BitmapStore::take(1152, 1776, QImage::Format_ARGB32_Premultiplied));
    }
    EXPECT_GT(BitmapStore::storedBytes(), 0u);
    EXPECT_LE(BitmapStore::storedBytes(), size_t(40) << 20);

    // A context that takes over used pixels still starts out transparent.
    {
        QImage used = BitmapStore::take(600, 400, QImage::Format_ARGB32_Premultiplied);
        used.fill(Qt::red);
    }
    UIGraphicsBeginImageContextWithOptions({300, 200}, false, 2);
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_EQ(image->CGImage()->pixel(599, 399), 0u);
    EXPECT_EQ(image->CGImage()->pixel(0, 0), 0u);
    BitmapStore::purge();
    EXPECT_EQ(BitmapStore::storedBytes(), 0u);
}
