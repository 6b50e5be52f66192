#include "HSVColor.h"
#include "QVColorInfoView.h"
#include "UIImage+CoreGraphics.h"
#include "UIScreen.h"

#include <cmath>
#include <gtest/gtest.h>

using platform::UIColor;

TEST(ColorInfoView, CaptionIsTruncatedLowerCaseHex) {
    QVColorInfoView view;
    auto caption = [&](const UIColor &c) {
        view.setColor(c);
        return view.viewForBaselineLayout().text().toStdString();
    };
    EXPECT_EQ(caption(UIColor::whiteColor()), "#ffffff");
    EXPECT_EQ(caption(UIColor::colorWithRed(0, 1, 0, 1)), "#00ff00");
    EXPECT_EQ(caption(UIColor::blackColor()), "#000000");
    EXPECT_EQ(caption(UIColor::colorWithRed(0.5, 0.5, 0.5, 1)), "#7f7f7f");
    // 33/255 × 255 comes out just under 33 in double arithmetic.
    EXPECT_EQ(caption(UIColor::colorWithRed(33 * (1 / 255.0), 0, 0, 1)), "#200000");
    EXPECT_EQ(caption(UIColor::colorWithRed(0x12 / 255.0, 0xab / 255.0, 0xcd / 255.0, 0.5)),
              "#12abcd");
}

TEST(ColorInfoView, ComponentsOutsideTheUnitRangeStillGiveSixDigits) {
    EXPECT_EQ(QVColorInfoView::hexCaption(UIColor::colorWithRed(1.5, -0.2, NAN, 1)), "#ff0000");
    EXPECT_EQ(QVColorInfoView::hexCaption(UIColor::colorWithRed(2, 2, 2, 1)), "#ffffff");
}

TEST(ColorInfoView, LayoutPutsCaptionAtTheBottomAndBorderAround) {
    QVColorInfoView view(CGRectMake(8, 10, 66, 84));
    EXPECT_FALSE(view.color().has_value());
    view.layoutIfNeeded();
    EXPECT_EQ(view.viewForBaselineLayout().frame(), CGRectMake(0, 66, 66, 18));
    EXPECT_EQ(view.borderLayer().frame(), CGRectMake(0, 0, 66, 84));
    EXPECT_EQ(view.borderLayer().cornerRadius(), kQVColorInfoViewCornerRadius);
    EXPECT_NE(static_cast<const UIView *>(&view.viewForBaselineLayout()),
              static_cast<const UIView *>(&view));
}

TEST(ColorInfoView, SwatchFillsOnlyTheAreaAboveTheCaption) {
    UIScreen::mainScreen().setScale(1);
    QVColorInfoView view(CGRectMake(0, 0, 66, 84));
    view.setColor(UIColor::colorWithRed(1, 0, 0, 1));
    view.layoutIfNeeded();
    auto image = qv_imageWithSize(
        {66, 84}, [&](CGContextRef ctx, CGRect) { view.layer().render(*ctx->painter); });
    const QImage &pixels = *image->CGImage();
    EXPECT_EQ(pixels.pixelColor(33, 30), QColor(255, 0, 0));
    EXPECT_EQ(pixels.pixelColor(33, 65), QColor(255, 0, 0)); // the swatch ends at 66
    EXPECT_LT(pixels.pixelColor(0, 0).red(), 128);           // its top corners are rounded
    EXPECT_EQ(pixels.pixelColor(10, 70).red(), 0);           // the caption strip is not red
    UIScreen::mainScreen().setScale(2);
}

TEST(ImageRendering, SizeInPointsAtScreenScaleTransparentUnlessOpaque) {
    UIScreen::mainScreen().setScale(3);
    auto image = qv_imageWithSize({10, 4}, [](CGContextRef ctx, CGRect rect) {
        EXPECT_EQ(rect, CGRectMake(0, 0, 10, 4));
        CGContextSetFillColorWithColor(ctx, UIColor::colorWithRed(0, 0, 1, 1));
        CGContextFillRect(ctx, CGRectMake(0, 0, 5, 4));
    });
    EXPECT_EQ(image->size(), (CGSize{10, 4}));
    EXPECT_EQ(image->CGImage()->size(), QSize(30, 12));
    EXPECT_EQ(image->CGImage()->pixelColor(3, 3), QColor(0, 0, 255));
    EXPECT_EQ(image->CGImage()->pixelColor(20, 3).alpha(), 0);

    auto opaque = qv_imageWithSize({2, 2}, true, [](CGContextRef, CGRect) {});
    EXPECT_FALSE(opaque->CGImage()->hasAlphaChannel());
    UIScreen::mainScreen().setScale(2);
}

TEST(HSVColorFromUIColor, FillsHueSaturationBrightnessAndIgnoresAlpha) {
    HSVColor hsv{9, 9, 9};
    EXPECT_TRUE(HSVColorFromUIColor(UIColor::colorWithHue(0.6, 0.5, 0.8, 0.3), &hsv));
    EXPECT_NEAR(hsv.h, 0.6, 1e-12);
    EXPECT_NEAR(hsv.s, 0.5, 1e-12);
    EXPECT_NEAR(hsv.v, 0.8, 1e-12);
    EXPECT_TRUE(HSVColorFromUIColor(UIColor::colorWithWhite(0.4, 1), &hsv));
    EXPECT_EQ(hsv.h, 0);
    EXPECT_EQ(hsv.s, 0);
    EXPECT_FALSE(HSVColorFromUIColor(UIColor::whiteColor(), nullptr));
}

TEST(ImageRendering, DrawingAfterTheImageIsTakenLeavesItAlone) {
    UIGraphicsBeginImageContextWithOptions({2, 2}, false, 1);
    CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(),
                                   UIColor::colorWithRed(1, 0, 0, 1));
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 2, 2));
    auto first = UIGraphicsGetImageFromCurrentImageContext();
    CGContextSetFillColorWithColor(UIGraphicsGetCurrentContext(),
                                   UIColor::colorWithRed(0, 0, 1, 1));
    CGContextFillRect(UIGraphicsGetCurrentContext(), CGRectMake(0, 0, 2, 2));
    auto second = UIGraphicsGetImageFromCurrentImageContext();
    UIGraphicsEndImageContext();
    EXPECT_EQ(first->CGImage()->pixelColor(0, 0), QColor(255, 0, 0));
    EXPECT_EQ(second->CGImage()->pixelColor(0, 0), QColor(0, 0, 255));
    EXPECT_EQ(UIGraphicsGetCurrentContext(), nullptr);
}
