#include "BitmapStore.h"
#include "UIImage+CoreGraphics.h"
#include "UIScreen.h"

#include <algorithm>
#include <cmath>
#include <cstring>

std::shared_ptr<UIImage> qv_imageWithSize(CGSize size, const QVImageRenderer &renderer) {
    return qv_imageWithSize(size, false, renderer);
}

std::shared_ptr<UIImage> qv_imageWithSize(CGSize size, bool opaque,
                                          const QVImageRenderer &renderer) {
    const QVImageRenderer keep = renderer;
    UIGraphicsBeginImageContextWithOptions(size, opaque, 0);
    if (keep)
        keep(UIGraphicsGetCurrentContext(), {{0, 0}, size});
    auto image = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    return image;
}

namespace {

// Tiles along a length that is a whole number of them, or -1. Tile edges are the renderer's
// own products (tile × index in single precision), so they must land on whole pixels exactly.
int wholeTiles(double length, float tile, double tilePixels, double scale) {
    const long count = std::lround(length / tile);
    if (count < 1 || count > 1 << 20 || std::ceil(length * scale) != tilePixels * double(count))
        return -1;
    for (long i = 0; i <= count; ++i)
        if (double(tile * float(i)) * scale != tilePixels * double(i))
            return -1;
    return int(count);
}

// One pixel per tile of a grid `columns` × `rows`.
QImage renderTiles(CGSize size, float tile, int columns, int rows,
                   const QVImageRenderer &renderer) {
    QImage tiles(columns, rows, QImage::Format_ARGB32_Premultiplied);
    tiles.fill(Qt::transparent);
    QPainter painter(&tiles);
    painter.scale(1 / double(tile), 1 / double(tile));
    CGContext context{&painter};
    if (renderer)
        renderer(&context, {{0, 0}, size});
    return tiles;
}

} // namespace

std::shared_ptr<UIImage> qv_tileImageWithSize(CGSize size, float tile,
                                              const QVImageRenderer &renderer) {
    const double across = size.width / tile, down = size.height / tile;
    // Also false for NaN and for a tile of zero or less.
    if (!(tile > 0 && across >= 0.5 && down >= 0.5 && across < 65536 && down < 65536))
        return nullptr;
    const int columns = int(std::lround(across)), rows = int(std::lround(down));
    return std::make_shared<UIImage>(renderTiles(size, tile, columns, rows, renderer),
                                     1 / double(tile));
}

std::shared_ptr<UIImage> qv_tiledImageWithSize(CGSize size, float tile,
                                               const QVImageRenderer &renderer) {
    const double scale = UIScreen::mainScreen().scale();
    const double tilePixels = double(tile) * scale;
    const int n = static_cast<int>(tilePixels);
    const int columns = tile > 0 ? wholeTiles(size.width, tile, n, scale) : -1;
    const int rows = tile > 0 ? wholeTiles(size.height, tile, n, scale) : -1;
    if (n < 1 || double(n) != tilePixels || columns < 1 || rows < 1)
        return qv_imageWithSize(size, renderer);

    const QImage tiles = renderTiles(size, tile, columns, rows, renderer);

    QImage pixels = BitmapStore::take(columns * n, rows * n, tiles.format());
    const size_t lineBytes = size_t(columns) * n * sizeof(QRgb);
    for (int row = 0; row < rows; ++row) {
        const auto *tileLine = reinterpret_cast<const QRgb *>(tiles.constScanLine(row));
        auto *first = reinterpret_cast<QRgb *>(pixels.scanLine(row * n));
        for (int column = 0; column < columns; ++column)
            std::fill_n(first + size_t(column) * n, n, tileLine[column]);
        for (int y = 1; y < n; ++y)
            std::memcpy(pixels.scanLine(row * n + y), first, lineBytes);
    }
    return std::make_shared<UIImage>(std::move(pixels), scale);
}
