#include "NBRColorPickerController.h"
#include "NBRSupport.h"
#include "QVColorInfoView.h"
#include "QVColorPickerView.h"
#include "UINavigationController.h"
#include "UIViewHost.h"

#include "ColorChooserTestSupport.h"
#include "EventLoopWait.h"

#include <QTest>
#include <gtest/gtest.h>

using platform::UIColor;
using platform::testing::spinUntil;

namespace {

struct Report {
    NBRColorPickerController *picker;
    UIColor color;
};

class RecordingDelegate : public NBRColorPickerControllerDelegate {
public:
    void colorPickerDidPickColor(NBRColorPickerController *picker, const UIColor &color) override {
        reports.push_back({picker, color});
    }
    std::vector<Report> reports;
};

// A plain root screen with the chooser pushed on it, in a window as the Settings app shows it.
class ColorPickerScreen : public ::testing::Test {
protected:
    void SetUp() override {
        navigation_ = new UINavigationController(new UIViewController);
        navigation_->topViewController()->setTitle("Nimbrel");
        navigation_->view()->resize(390, 720);
        navigation_->viewWillAppear(false);
        navigation_->view()->show();
        navigation_->viewDidAppear(false);
    }
    void TearDown() override {
        delete navigation_;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    NBRColorPickerController *push(const UIColor &start,
                                   NBRColorPickerControllerDelegate *delegate) {
        auto *chooser = new NBRColorPickerController(start);
        chooser->setDelegate(delegate);
        navigation_->pushViewController(chooser, true);
        return chooser;
    }

    UINavigationController *navigation_ = nullptr;
};

TEST_F(ColorPickerScreen, StartsOnItsColourUnderTheBarAndFillsTheRest) {
    RecordingDelegate delegate;
    auto *chooser = push(UIColor::colorWithRed(0, 78 / 255.0, 253 / 255.0, 1), &delegate);
    EXPECT_EQ(chooser->title(), "LED Color");
    EXPECT_FALSE(chooser->pickedColor());
    const UIColor start = chooser->colorPicker()->color();
    EXPECT_NEAR(start.red() * 255, 0, 1e-9);
    EXPECT_NEAR(start.green() * 255, 78, 1e-9);
    EXPECT_NEAR(start.blue() * 255, 253, 1e-9);

    UIViewHost *host = nbrtest::pickerHost(chooser);
    ASSERT_NE(host, nullptr);
    QWidget *window = navigation_->view();
    ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(chooser); }));
    const QRect placed(host->mapTo(window, QPoint(0, 0)), host->size());
    EXPECT_EQ(placed, QRect(0, 44, 390, 720 - 44)) << "below the 44-point bar, to the edges";
    EXPECT_EQ(chooser->colorPicker()->frame(), CGRectMake(0, 0, 390, 676));

    window->resize(320, 568);
    ASSERT_TRUE(spinUntil([&] { return host->height() == 568 - 44; }));
    EXPECT_EQ(chooser->colorPicker()->frame(), CGRectMake(0, 0, 320, 524)) << "follows the view";
    EXPECT_TRUE(delegate.reports.empty());
}

TEST_F(ColorPickerScreen, GoingBackWithoutAChangeReportsNothing) {
    RecordingDelegate delegate;
    push(UIColor::colorWithRed(1, 0, 0, 1), &delegate);
    navigation_->popViewControllerAnimated(true);
    EXPECT_TRUE(delegate.reports.empty());
}

TEST_F(ColorPickerScreen, EveryTapIsReportedAndTheLastColourOnceMoreWhenLeaving) {
    RecordingDelegate delegate;
    auto *chooser = push(UIColor::colorWithRed(0, 78 / 255.0, 253 / 255.0, 1), &delegate);
    UIViewHost *host = nbrtest::pickerHost(chooser);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(chooser); }));

    std::vector<std::string> tapped;
    for (double column : {0.1, 0.5, 0.8}) {
        nbrtest::tapMap(*host, *chooser->colorPicker(), column, 0.2);
        ASSERT_TRUE(chooser->pickedColor());
        tapped.push_back(NBRStringColorForUIColor(*chooser->pickedColor()));
    }
    EXPECT_NE(tapped[0], tapped[1]);
    EXPECT_NE(tapped[1], tapped[2]);
    ASSERT_EQ(delegate.reports.size(), 3u);

    navigation_->popViewControllerAnimated(true);
    ASSERT_EQ(delegate.reports.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(delegate.reports[i].picker, chooser);
        EXPECT_EQ(NBRStringColorForUIColor(delegate.reports[i].color), tapped[i]) << i;
    }
    EXPECT_EQ(delegate.reports[3].color, delegate.reports[2].color);
}

TEST_F(ColorPickerScreen, WithoutADelegateTapsAndLeavingAreHarmless) {
    auto *chooser = push(UIColor::colorWithRed(0, 0, 1, 1), nullptr);
    UIViewHost *host = nbrtest::pickerHost(chooser);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(chooser); }));
    nbrtest::tapMap(*host, *chooser->colorPicker(), 0.5, 0.5);
    EXPECT_TRUE(chooser->pickedColor());
    navigation_->popViewControllerAnimated(true);
}

// The screen opens on the stored text's colour, as the page makes it: its caption, its swatch and
// the colour it would report are that text again, save where the platform's own conversion
// already gives one less ("212121" comes back as "202020"), which is not the screen's to mend.
TEST(ColorPickerScreenReopened, ShowsTheStoredColourExactly) {
    std::vector<std::string> texts;
    for (int v = 0; v < 256; ++v) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", v);
        const std::string b = digits;
        for (const std::string &hex : {b + b + b, "8d" + b + "ff", "65ff" + b, b + "aaff"})
            texts.push_back(hex);
    }
    int checked = 0;
    std::vector<std::string> wrong;
    for (const std::string &hex : texts) {
        const UIColor stored = NBRColorForHexString(hex.c_str());
        if (NBRStringColorForUIColor(stored) != hex)
            continue;
        ++checked;
        NBRColorPickerController chooser(stored);
        QVColorPickerView &picker = *chooser.colorPicker();
        picker.setFrame(CGRectMake(0, 0, 390, 676));
        picker.layoutIfNeeded();
        auto &info = static_cast<QVColorInfoView &>(picker.colorInfoView());
        const std::string caption = info.viewForBaselineLayout().text().toStdString();
        const std::string shown = info.color() ? NBRStringColorForUIColor(*info.color()) : "";
        const std::string reported = NBRStringColorForUIColor(picker.color());
        if (caption != "#" + hex || shown != hex || reported != hex)
            wrong.push_back(hex + ": " + caption + " " + shown + " " + reported);
    }
    EXPECT_GT(checked, 900);
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << checked << ", first "
                               << (wrong.empty() ? "" : wrong.front());
}

TEST(ColorPickerScreenLifetime, APickerOutlivingItsScreenNoLongerReportsToIt) {
    RecordingDelegate delegate;
    std::shared_ptr<QVColorPickerView> picker;
    {
        NBRColorPickerController chooser(UIColor::colorWithRed(0, 0, 1, 1));
        chooser.setDelegate(&delegate);
        picker = chooser.colorPicker();
    }
    picker->sendActionsForControlEvents(UIControlEventValueChanged);
    EXPECT_TRUE(delegate.reports.empty());
}

} // namespace
