#pragma once

#include "UIColor.h"

// Hue (a fraction of the full turn), saturation and brightness, each 0...1 as the platform
// reports them.
struct HSVColor {
    double h = 0;
    double s = 0;
    double v = 0;
    bool operator==(const HSVColor &) const = default;
};

// Fills `hsv` from the colour by the platform's rules; false (and `hsv` untouched) when the
// colour cannot be given in HSB or `hsv` is null.
bool HSVColorFromUIColor(const platform::UIColor &color, HSVColor *hsv);
