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
