#include "QVColorMapView.h"
#include "UIImage+CoreGraphics.h"
#include "UIScreen.h"

#include <gtest/gtest.h>

using platform::UIColor;

namespace {

// Tile-aligned fills of every kind the fast path must reproduce: opaque bands, translucent
// overlays across and down, single tiles, a fill running past the edge.
QVImageRenderer checkerRenderer(int columns, int rows, float t) {
    return [=](CGContextRef ctx, CGRect r) {
        CGContextSetFillColorWithColor(ctx, UIColor::colorWithRed(0.2, 0.9, 0.35, 1));
        CGContextFillRect(ctx, CGRectMake(r.minX(), r.minY(), t * 2, r.height()));
        for (int c = 0; c < columns; c += 2) {
            CGContextSetFillColorWithColor(ctx, UIColor::colorWithHue(0.07 * c, 0.8, 0.9, 0.6));
            CGContextFillRect(ctx, CGRectMake(t * c, 0, t, r.height()));
        }
        for (int row = 1; row < rows; row += 3) {
            CGContextSetFillColorWithColor(ctx, UIColor::colorWithWhite(0.1, 0.33 + 0.01 * row));
            CGContextFillRect(ctx, CGRectMake(0, t * row, r.width() + t, t));
        }
        CGContextSetFillColorWithColor(ctx, UIColor::colorWithRed(1, 0, 0.5, 1));
        CGContextFillRect(ctx, CGRectMake(t * (columns - 1), t * (rows - 1), t, t));
    };
}

struct Restore : ::testing::Test {
    void TearDown() override { UIScreen::mainScreen().setScale(2); }
};

} // namespace

using TiledImage = Restore;

TEST_F(TiledImage, SameImageAsDrawingEveryPixel) {
    struct Case {
        double scale;
        float tile;
        int columns, rows;
    };
    for (const Case c : {Case{1, 16, 7, 5}, Case{2, 16, 20, 12}, Case{3, 16, 24, 37},
                         Case{3, 10.5f, 9, 4}, Case{2, 0.5f, 30, 3}}) {
        SCOPED_TRACE(testing::Message() << c.scale << " " << c.tile);
        UIScreen::mainScreen().setScale(c.scale);
        const CGSize size{c.columns * c.tile, c.rows * double(c.tile)};
        const auto renderer = checkerRenderer(c.columns, c.rows, c.tile);
        auto tiled = qv_tiledImageWithSize(size, c.tile, renderer);
        auto drawn = qv_imageWithSize(size, renderer);
        EXPECT_EQ(tiled->size(), drawn->size());
        EXPECT_EQ(tiled->scale(), c.scale);
        EXPECT_TRUE(*tiled->CGImage() == *drawn->CGImage());
    }
}

TEST_F(TiledImage, TilesBetweenPixelsAreDrawnAsUsual) {
    UIScreen::mainScreen().setScale(3);
    const float tile = 10.3f; // 30.9 pixels
    const auto renderer = checkerRenderer(5, 4, tile);
    const CGSize size{5 * tile, 4 * double(tile)};
    EXPECT_TRUE(*qv_tiledImageWithSize(size, tile, renderer)->CGImage() ==
                *qv_imageWithSize(size, renderer)->CGImage());
}

// Each pixel of the colour map worked out on its own from the tile's hue and saturation: the
// fills may round differently, but by no more than one step.
TEST_F(TiledImage, ColourMapMatchesItsColoursPixelByPixel) {
    UIScreen::mainScreen().setScale(3);
    const int columns = 24, rows = 37, n = 48;
    const float limit = 0.9f;
    auto image = QVColorMapView::colorMapImageWithSize({390, 600}, 16, limit);
    const QImage &pixels = *image->CGImage();
    ASSERT_EQ(pixels.size(), QSize(columns * n, rows * n));
    int worst = 0;
    for (int y = 0; y < pixels.height(); y += 7) {
        const double saturation = 1.0 - limit * (y / n) / (rows - 1);
        for (int x = 0; x < pixels.width(); x += 5) {
            const auto want = UIColor::colorWithHue(double(x / n) / columns, saturation, 1, 1);
            const QRgb got = pixels.pixel(x, y);
            ASSERT_EQ(qAlpha(got), 255);
            worst = std::max({worst, std::abs(qRed(got) - int(want.red() * 255 + 0.5)),
                              std::abs(qGreen(got) - int(want.green() * 255 + 0.5)),
                              std::abs(qBlue(got) - int(want.blue() * 255 + 0.5))});
        }
    }
    EXPECT_LE(worst, 1);

    auto background = QVColorMapView::backgroundImageWithSize({390, 600}, 16);
    QImage black(pixels.size(), QImage::Format_ARGB32_Premultiplied);
    black.fill(Qt::black);
    EXPECT_TRUE(*background->CGImage() == black);
}
