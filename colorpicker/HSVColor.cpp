#include "HSVColor.h"

bool HSVColorFromUIColor(const platform::UIColor &color, HSVColor *hsv) {
    if (!hsv)
        return false;
    double h = 0, s = 0, v = 0, alpha = 0;
    if (!color.getHue(&h, &s, &v, &alpha))
        return false;
    *hsv = {h, s, v};
    return true;
}
