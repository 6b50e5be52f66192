#include "UIColor.h"

#include <gtest/gtest.h>

using platform::UIColor;

namespace {

struct HSB {
    double h, s, v, a;
};

HSB hsb(const UIColor &color) {
    HSB out{};
    EXPECT_TRUE(color.getHue(&out.h, &out.s, &out.v, &out.a));
    return out;
}

} // namespace

TEST(UIColor, GraysHaveHueAndSaturationZero) {
    for (const UIColor &gray :
         {UIColor::blackColor(), UIColor::whiteColor(), UIColor::colorWithWhite(0.5, 0.3),
          UIColor::colorWithRed(0.2, 0.2, 0.2, 1)}) {
        HSB value = hsb(gray);
        EXPECT_EQ(value.h, 0.0);
        EXPECT_EQ(value.s, 0.0);
        EXPECT_EQ(value.v, gray.red());
    }
    EXPECT_EQ(hsb(UIColor::colorWithWhite(0.5, 0.3)).a, 0.3);
}

TEST(UIColor, HueRunsFromZeroToOne) {
    EXPECT_EQ(hsb(UIColor::colorWithRed(1, 0, 0, 1)).h, 0.0);
    EXPECT_DOUBLE_EQ(hsb(UIColor::colorWithRed(0, 1, 0, 1)).h, 1.0 / 3);
    EXPECT_DOUBLE_EQ(hsb(UIColor::colorWithRed(0, 0, 1, 1)).h, 2.0 / 3);
    // Just below red on the far side: magenta-red gives a hue close to 1, never negative.
    HSB nearRed = hsb(UIColor::colorWithRed(1, 0, 0.01, 1));
    EXPECT_GT(nearRed.h, 0.99);
    EXPECT_LT(nearRed.h, 1.0);
    HSB orange = hsb(UIColor::colorWithRed(1, 0.5, 0, 1));
    EXPECT_DOUBLE_EQ(orange.h, 1.0 / 12);
    EXPECT_EQ(orange.s, 1.0);
    EXPECT_EQ(orange.v, 1.0);
}

TEST(UIColor, FromHueAndBack) {
    EXPECT_EQ(UIColor::colorWithHue(0, 1, 1, 1), UIColor::colorWithRed(1, 0, 0, 1));
    EXPECT_EQ(UIColor::colorWithHue(1.0, 1, 1, 1), UIColor::colorWithRed(1, 0, 0, 1))
        << "hue 1 wraps to red";
    EXPECT_EQ(UIColor::colorWithHue(0.5, 1, 1, 1), UIColor::colorWithRed(0, 1, 1, 1));
    EXPECT_EQ(UIColor::colorWithHue(0.3, 0, 0.4, 1), UIColor::colorWithRed(0.4, 0.4, 0.4, 1));
    for (double h = 0; h < 1.0; h += 1.0 / 64) {
        HSB back = hsb(UIColor::colorWithHue(h, 0.75, 0.5, 1));
        EXPECT_NEAR(back.h, h, 1e-12) << h;
        EXPECT_NEAR(back.s, 0.75, 1e-12);
        EXPECT_EQ(back.v, 0.5);
    }
}

TEST(UIColor, ComponentsAreNotClamped) {
    UIColor wide = UIColor::colorWithRed(1.25, -0.5, 0.5, 1);
    double r, g, b, a;
    EXPECT_TRUE(wide.getRed(&r, &g, &b, &a));
    EXPECT_EQ(r, 1.25);
    EXPECT_EQ(g, -0.5);
    EXPECT_TRUE(wide.getRed(nullptr, nullptr, &b, nullptr)) << "null out-parameters are allowed";
    EXPECT_EQ(b, 0.5);
    EXPECT_EQ(wide.colorWithAlphaComponent(0.5).alpha(), 0.5);
}
