#pragma once

#include "UIGraphics.h"

#include <functional>
#include <memory>

using QVImageRenderer = std::function<void(CGContextRef context, CGRect rect)>;

// Renders the block once into a bitmap of `size` points at the main screen's scale; not opaque
// (transparent wherever nothing was drawn) unless asked. Safe off the main thread.
std::shared_ptr<UIImage> qv_imageWithSize(CGSize size, const QVImageRenderer &renderer);
std::shared_ptr<UIImage> qv_imageWithSize(CGSize size, bool opaque,
                                          const QVImageRenderer &renderer);

// The same image as qv_imageWithSize for a renderer that only fills whole tiles of a grid of
// square tiles filling `size`: the renderer draws at one pixel per tile and every tile is then
// spread over its pixels, each pixel written once. Where a tile is not a whole number of pixels
// it simply is qv_imageWithSize.
std::shared_ptr<UIImage> qv_tiledImageWithSize(CGSize size, float tileSize,
                                               const QVImageRenderer &renderer);

// The same picture at one pixel per tile (its scale 1/tileSize, so its size is still `size`):
// shown stretched without smoothing it is every tile, at any scale, for a few hundred bytes.
// Null when `size` holds no whole tile.
std::shared_ptr<UIImage> qv_tileImageWithSize(CGSize size, float tileSize,
                                              const QVImageRenderer &renderer);
