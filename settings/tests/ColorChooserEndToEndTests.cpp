// A finger on the colour map, all the way to the light bar of a connected DualShock 4 held by
// the controller daemon stand-in.
#include "ChildProcess.h"
#include "ColorChooserTestSupport.h"
#include "EventLoopWait.h"
#include "NBRColorChooserCell.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UINavigationController.h"
#include "WidgetTestEnvironment.h"

#include <fstream>
#include <QPointer>
#include <gtest/gtest.h>
#include <sstream>

NBR_WIDGET_TEST_ENVIRONMENT();

using platform::PlistValue;
using platform::testing::ChildProcess;
using platform::testing::spinUntil;

namespace {

int count(const std::string &text, const std::string &part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

void tapThroughWindow(QWidget *widget, QPoint at) {
    QWidget *window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, at));
}

class ColorChooserEndToEnd : public ::testing::Test {
protected:
    void TearDown() override {
        delete navigation_;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string log() const {
        std::ifstream file(logPath_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    platform::testing::TestDeviceRoot root_;
    std::string logPath_ = root_.path("/tmp/controllerd.log");
    UINavigationController *navigation_ = nullptr;
};

TEST_F(ColorChooserEndToEnd, ATapOnTheMapRecoloursTheRowAndTheConnectedLightBar) {
    ASSERT_TRUE(platform::writePlistAtomically(root_.path(NBRPreferencesPath),
                                               PlistValue(PlistValue::Dictionary{
                                                   {NBRControllerTypeKey, 1},
                                                   {"NBRConnectionMode", 1},
                                                   {NBRLEDColorKey, "004efd"},
                                               }),
                                               platform::PlistFormat::XML));
    ChildProcess daemon(CONTROLLERD_PATH, {"--connected", "1", "--log", logPath_});
    ASSERT_TRUE(daemon.waitForLine("ready"));

    auto *page = new NimbrelListController;
    page->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
    navigation_ = new UINavigationController(page);
    QWidget *window = navigation_->view();
    window->resize(390, 900);
    navigation_->viewWillAppear(false);
    window->show();
    navigation_->viewDidAppear(false);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));

    // Coming on screen the page asks the daemon about the controller and rebuilds its rows
    // with the answer; the row to tap is the one made then.
    // The title can change before the query's last rebuild; the connect button (there in
    // manual mode) taking taps again says the exchange is over.
    ASSERT_TRUE(spinUntil([&] {
        const PSTableCell *connect = page->connectSpecifier()->cellObject();
        return page->connectSpecifier()->name() == "Disconnect Controller" && connect != nullptr &&
               connect->isUserInteractionEnabled();
    }));
    QPointer<NBRColorChooserCell> row =
        dynamic_cast<NBRColorChooserCell *>(page->ds4ColorChooser()->cellObject());
    ASSERT_NE(row, nullptr);
    ASSERT_TRUE(spinUntil([&] { return row->isVisible() && row->height() > 0; }));
    tapThroughWindow(row, row->rect().center());
    auto *chooser = qobject_cast<NBRColorPickerController *>(navigation_->topViewController());
    ASSERT_NE(chooser, nullptr) << "a tap on the row opens the chooser";
    UIViewHost *host = nbrtest::pickerHost(chooser);
    ASSERT_NE(host, nullptr);
    ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(chooser); }));

    nbrtest::tapMap(*host, *chooser->colorPicker(), 0.3, 0.4);
    ASSERT_TRUE(chooser->pickedColor()) << "the tap picked a colour";
    const std::string hex = NBRStringColorForUIColor(*chooser->pickedColor());
    auto file = platform::readPlistDictionary(root_.path(NBRPreferencesPath));
    ASSERT_TRUE(file);
    const std::string *stored = file->at(NBRLEDColorKey).string();
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(*stored, hex);
    EXPECT_NE(hex, "004efd");
    ASSERT_FALSE(row.isNull()) << "the row is reloaded in place";
    EXPECT_EQ(row->colorMark()->backgroundColor(), NBRColorForHexString(hex.c_str()));
    QWidget *swatch = row->accessoryView();
    ASSERT_NE(swatch, nullptr);
    const QImage shot = row->grab().toImage();
    const QColor shown =
        shot.pixelColor(swatch->mapTo(row, QPoint(swatch->width() / 2, swatch->height() / 2)));
    EXPECT_EQ(shown.name().mid(1).toStdString(), hex) << "the row shows the new colour";

    // Command 4 and type 1 little-endian, flag and reserved bytes, then red, green, blue and
    // the first payload byte past them: the 16-byte prefix of the record.
    const std::string message = "recv=16 hex=040000000100000000000000" + hex + "00";
    ASSERT_TRUE(spinUntil([&] { return log().find(message) != std::string::npos; })) << log();
    EXPECT_NE(log().find("light bar " + hex + " shown"), std::string::npos) << log();

    // Going back reports the same colour once more.
    navigation_->popViewControllerAnimated(true);
    ASSERT_TRUE(spinUntil([&] { return count(log(), message) == 2; })) << log();
    EXPECT_EQ(daemon.stop(), 0);
}

} // namespace
