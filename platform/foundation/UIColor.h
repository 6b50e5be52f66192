#pragma once

namespace platform {

// The platform's colour object: red, green, blue and alpha as doubles, never clamped, with the
// platform's HSB rules (hue in 0...1; grays have hue 0 and saturation 0; hue 1.0 is red again).
// Kept apart from any toolkit colour so that the double arithmetic of conversions stays exact.
class UIColor {
public:
    constexpr UIColor() = default;

    static constexpr UIColor colorWithRed(double red, double green, double blue, double alpha) {
        return UIColor(red, green, blue, alpha);
    }
    static constexpr UIColor colorWithWhite(double white, double alpha) {
        return UIColor(white, white, white, alpha);
    }
    static UIColor colorWithHue(double hue, double saturation, double brightness, double alpha);

    static constexpr UIColor blackColor() { return colorWithWhite(0, 1); }
    static constexpr UIColor whiteColor() { return colorWithWhite(1, 1); }
    static constexpr UIColor clearColor() { return colorWithWhite(0, 0); }
    static constexpr UIColor blueColor() { return colorWithRed(0, 0, 1, 1); }

    // As on the platform, each out-parameter may be null; the result tells whether the colour
    // could be expressed that way (always, for this type).
    bool getRed(double *red, double *green, double *blue, double *alpha) const;
    bool getHue(double *hue, double *saturation, double *brightness, double *alpha) const;

    UIColor colorWithAlphaComponent(double alpha) const {
        return UIColor(red_, green_, blue_, alpha);
    }

    constexpr double red() const { return red_; }
    constexpr double green() const { return green_; }
    constexpr double blue() const { return blue_; }
    constexpr double alpha() const { return alpha_; }

    constexpr bool operator==(const UIColor &) const = default;

private:
    constexpr UIColor(double red, double green, double blue, double alpha)
        : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

    double red_ = 0;
    double green_ = 0;
    double blue_ = 0;
    double alpha_ = 0;
};

} // namespace platform
