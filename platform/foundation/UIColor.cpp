#include "UIColor.h"

#include <algorithm>

namespace platform {

UIColor UIColor::colorWithHue(double hue, double saturation, double brightness, double alpha) {
    const double v = brightness;
    const double scaled = hue * 6.0;
    const int sector = static_cast<int>(scaled);
    const double f = scaled - sector;
    const double p = v * (1.0 - saturation);
    const double q = v * (1.0 - saturation * f);
    const double t = v * (1.0 - saturation * (1.0 - f));
    switch (sector) {
    case 1:
        return UIColor(q, v, p, alpha);
    case 2:
        return UIColor(p, v, t, alpha);
    case 3:
        return UIColor(p, q, v, alpha);
    case 4:
        return UIColor(t, p, v, alpha);
    case 5:
        return UIColor(v, p, q, alpha);
    default: // 0, and 6 for hue 1.0, which wraps to red
        return UIColor(v, t, p, alpha);
    }
}

bool UIColor::getRed(double *red, double *green, double *blue, double *alpha) const {
    if (red)
        *red = red_;
    if (green)
        *green = green_;
    if (blue)
        *blue = blue_;
    if (alpha)
        *alpha = alpha_;
    return true;
}

bool UIColor::getHue(double *hue, double *saturation, double *brightness, double *alpha) const {
    const double max = std::max({red_, green_, blue_});
    const double min = std::min({red_, green_, blue_});
    const double diff = max - min;
    double h = 0, s = 0;
    if (diff > 0) {
        s = max > 0 ? diff / max : 0;
        if (red_ == max)
            h = (green_ - blue_) / diff;
        else if (green_ == max)
            h = 2.0 + (blue_ - red_) / diff;
        else
            h = 4.0 + (red_ - green_) / diff;
        if (h < 0)
            h += 6.0;
        h /= 6.0;
    }
    if (hue)
        *hue = h;
    if (saturation)
        *saturation = s;
    if (brightness)
        *brightness = max;
    if (alpha)
        *alpha = alpha_;
    return true;
}

} // namespace platform
