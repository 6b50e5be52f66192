#include "UIImage+CoreGraphics.h"

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
