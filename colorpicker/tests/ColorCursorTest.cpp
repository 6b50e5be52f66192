#include "QVBrightnessCursor.h"
#include "QVColorCursor.h"

#include <gtest/gtest.h>

using platform::UIColor;

namespace {
bool ringIsDark(const QVColorCursor &cursor) {
    return cursor.backLayer().backgroundColor() == UIColor::colorWithWhite(0, 0.2) &&
           cursor.backLayer().borderColor() == UIColor::colorWithWhite(0, 0.3);
}
} // namespace

TEST(ColorCursor, FrameIsAnchoredAtThePointWithRingAndDisc) {
    auto cursor = QVColorCursor::colorCursorWithPoint({-6, -6});
    EXPECT_EQ(cursor->frame(), CGRectMake(-6, -6, 28, 28));
    EXPECT_FALSE(cursor->isUserInteractionEnabled());
    EXPECT_EQ(cursor->backLayer().cornerRadius(), 14);
    EXPECT_EQ(cursor->colorLayer().frame(), CGRectMake(5.5, 5.5, 17, 17));
    EXPECT_EQ(cursor->colorLayer().cornerRadius(), 8.5);
    // Built in the light look, and the flag says so.
    EXPECT_FALSE(cursor->isGrayCursor());
    EXPECT_FALSE(ringIsDark(*cursor));
}

TEST(ColorCursor, DarkLookOnlyAboveTheStrictThresholds) {
    QVColorCursor cursor({0, 0});
    cursor.setColor(UIColor::colorWithHue(0.3, 0.2, 0.7, 1)); // brightness exactly 0.7
    EXPECT_FALSE(ringIsDark(cursor));
    cursor.setColor(UIColor::colorWithRed(1, 0.6, 0.6, 1)); // saturation exactly 0.4
    EXPECT_FALSE(ringIsDark(cursor));
    cursor.setColor(UIColor::colorWithHue(0.3, 0.39, 0.71, 1));
    EXPECT_TRUE(ringIsDark(cursor));
    EXPECT_TRUE(cursor.isGrayCursor());
    cursor.setColor(UIColor::colorWithHue(0.3, 1, 1, 1));
    EXPECT_FALSE(ringIsDark(cursor));
    EXPECT_FALSE(cursor.isGrayCursor());
}

TEST(ColorCursor, FirstLightColourGetsTheDarkLook) {
    QVColorCursor cursor({0, 0});
    cursor.setColor(UIColor::whiteColor());
    EXPECT_TRUE(ringIsDark(cursor));
}

TEST(ColorCursor, SameLookTwiceRestylesOnceButRecoloursEachTime) {
    QVColorCursor cursor({0, 0});
    const auto first = UIColor::colorWithWhite(0.9, 1);
    const auto second = UIColor::colorWithWhite(0.8, 1);
    cursor.setColor(first);
    EXPECT_EQ(cursor.colorLayer().backgroundColor(), first);
    cursor.setColor(second);
    EXPECT_EQ(cursor.colorLayer().backgroundColor(), second);
    EXPECT_EQ(cursor.ringRestyles(), 1);
}

TEST(ColorCursor, EditingSwellsOnceAndReturns) {
    QVColorCursor cursor({0, 0});
    const int before = UIView::animationCount();
    cursor.setEditing(true);
    cursor.setEditing(true);
    EXPECT_EQ(UIView::animationCount(), before + 1);
    EXPECT_EQ(UIView::lastAnimationDuration(), 0.1);
    EXPECT_EQ(cursor.backLayer().transform(), CATransform3DMakeScale(1.6, 1.6, 1));
    EXPECT_EQ(cursor.colorLayer().transform(), CATransform3DMakeScale(1.4, 1.4, 1));
    cursor.setEditing(false);
    EXPECT_EQ(UIView::animationCount(), before + 2);
    EXPECT_EQ(cursor.backLayer().transform(), CATransform3DIdentity);
    EXPECT_EQ(cursor.colorLayer().transform(), CATransform3DIdentity);
}

TEST(BrightnessCursor, LabelShowsTruncatedPercentWithASmallerSign) {
    QVBrightnessCursor knob;
    EXPECT_EQ(knob.frame(), CGRectMake(0, 0, 28, 28));
    EXPECT_EQ(knob.brightnessLabel().frame(), CGRectMake(-4, -28, 40, 16));
    EXPECT_EQ(knob.brightnessLabel().alpha(), 0);
    knob.setColor(UIColor::colorWithHue(0.2, 0.5, 0.5, 1));
    ASSERT_EQ(knob.brightnessLabel().attributedText().size(), 2u);
    EXPECT_EQ(knob.brightnessLabel().attributedText()[0].text, "50");
    EXPECT_EQ(knob.brightnessLabel().attributedText()[0].fontSize, 14);
    EXPECT_EQ(knob.brightnessLabel().attributedText()[1].text, "%");
    EXPECT_EQ(knob.brightnessLabel().attributedText()[1].fontSize, 12);
    knob.setColor(UIColor::colorWithHue(0.2, 0.5, 1.0, 1));
    EXPECT_EQ(knob.brightnessLabel().text(), "100%");
    knob.setColor(UIColor::colorWithHue(0.2, 0.5, 0.999, 1));
    EXPECT_EQ(knob.brightnessLabel().text(), "99%");
}

TEST(BrightnessCursor, DraggingShowsTheLabelAndRestSinksIt) {
    QVBrightnessCursor knob;
    const int before = UIView::animationCount();
    knob.setEditing(false);
    EXPECT_EQ(UIView::animationCount(), before);
    knob.setEditing(true);
    EXPECT_EQ(knob.brightnessLabel().alpha(), 1);
    EXPECT_EQ(knob.brightnessLabel().transform(), CGAffineTransformIdentity);
    knob.setEditing(false);
    EXPECT_EQ(knob.brightnessLabel().alpha(), 0);
    EXPECT_EQ(knob.brightnessLabel().transform(), CGAffineTransformMakeTranslation(0, 10));
    EXPECT_EQ(UIView::animationCount(), before + 2);
}
