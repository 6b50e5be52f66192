#include "CALayer.h"
#include "UIGraphics.h"
#include "UIScreen.h"
#include "UIView.h"

#include <gtest/gtest.h>

using platform::UIColor;

namespace {
QImage paint(const CALayer &layer, int w, int h) {
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    layer.render(painter);
    return image;
}
} // namespace

TEST(LayerRendering, BackgroundCornersBorderAndOpacity) {
    auto root = CALayer::layer();
    root->setFrame(CGRectMake(10, 10, 40, 40));
    root->setBackgroundColor(UIColor::colorWithRed(1, 0, 0, 1));
    root->setCornerRadius(20);
    auto child = CALayer::layer();
    child->setFrame(CGRectMake(10, 10, 20, 20));
    child->setBackgroundColor(UIColor::colorWithRed(0, 0, 1, 1));
    child->setOpacity(0.5);
    root->addSublayer(child);

    const QImage image = paint(*root, 60, 60);
    EXPECT_EQ(image.pixelColor(5, 5).alpha(), 0);   // outside the frame
    EXPECT_EQ(image.pixelColor(11, 11).alpha(), 0); // cut by the round corner
    EXPECT_EQ(image.pixelColor(15, 30), QColor(255, 0, 0));
    const QColor mixed = image.pixelColor(30, 30); // half blue over red
    EXPECT_NEAR(mixed.red(), 128, 2);
    EXPECT_NEAR(mixed.blue(), 128, 2);

    root->setCornerRadius(0);
    root->setBorderWidth(2);
    root->setBorderColor(UIColor::colorWithRed(0, 1, 0, 1));
    const QImage bordered = paint(*root, 60, 60);
    EXPECT_EQ(bordered.pixelColor(10, 30), QColor(0, 255, 0));
    EXPECT_EQ(bordered.pixelColor(13, 30), QColor(255, 0, 0));
}

TEST(LayerRendering, ScaleAboutTheCentreAndInsertionOrder) {
    auto root = CALayer::layer();
    root->setFrame(CGRectMake(0, 0, 60, 60));
    auto ring = CALayer::layer();
    ring->setFrame(CGRectMake(20, 20, 20, 20));
    ring->setBackgroundColor(UIColor::colorWithRed(0, 1, 0, 1));
    ring->setTransform(CATransform3DMakeScale(2, 2, 1));
    root->addSublayer(ring);
    auto under = CALayer::layer();
    under->setFrame(CGRectMake(0, 0, 60, 60));
    under->setBackgroundColor(UIColor::colorWithRed(0, 0, 1, 1));
    root->insertSublayer(under, 0);
    ASSERT_EQ(root->sublayers().size(), 2u);
    EXPECT_EQ(root->sublayers()[0], under);
    const QImage image = paint(*root, 60, 60);
    EXPECT_EQ(image.pixelColor(12, 30), QColor(0, 255, 0)); // grown from 20 to 40 about 30, 30
    EXPECT_EQ(image.pixelColor(5, 30), QColor(0, 0, 255));
}

TEST(LayerRendering, ContentsFillTheBoundsAtAnyScale) {
    QImage pixels(4, 4, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(QColor(10, 20, 30));
    auto layer = CALayer::layer();
    layer->setFrame(CGRectMake(0, 0, 2, 2));
    layer->setContents(std::make_shared<const QImage>(pixels));
    const QImage image = paint(*layer, 4, 4);
    EXPECT_EQ(image.pixelColor(1, 1), QColor(10, 20, 30));
    EXPECT_EQ(image.pixelColor(3, 3).alpha(), 0);
}

TEST(Views, SubviewLayersJoinTheTreeAndPointsConvert) {
    auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
    auto child = std::make_shared<UIView>(CGRectMake(10, 20, 50, 50));
    auto grandchild = std::make_shared<UIView>(CGRectMake(5, 5, 10, 10));
    root->addSubview(child);
    child->addSubview(grandchild);
    EXPECT_EQ(root->layer().sublayers().back(), child->layerPointer());
    EXPECT_EQ(grandchild->convertPointFromView({20, 30}, nullptr), (CGPoint{5, 5}));
    EXPECT_EQ(root->hitTest({16, 26}), grandchild.get());
    grandchild->setUserInteractionEnabled(false);
    EXPECT_EQ(root->hitTest({16, 26}), child.get());
    child->removeFromSuperview();
    EXPECT_TRUE(root->layer().sublayers().empty());
    EXPECT_EQ(child->superview(), nullptr);
}

TEST(Views, AnimationAppliesTheChangesAndRecordsTheDuration) {
    UIView view;
    const int before = UIView::animationCount();
    UIView::animateWithDuration(0.2, [&] { view.setAlpha(0.25); });
    EXPECT_EQ(UIView::animationCount(), before + 1);
    EXPECT_EQ(UIView::lastAnimationDuration(), 0.2);
    EXPECT_FLOAT_EQ(view.alpha(), 0.25);
}
