// A finger on the colour map, all the way to the light bar of a connected DualShock 4 held by
// the controller daemon stand-in.
#include "ColorChooserTestSupport.h"
#include "ControllerDaemonProcess.h"
#include "NBRColorChooserCell.h"
#include "NBRSupport.h"
#include "SettingsPageHarness.h"
#include "TestTimeScale.h"
#include "WidgetTestEnvironment.h"

#include <QPointer>
#include <chrono>
#include <set>

NBR_WIDGET_TEST_ENVIRONMENT();

using platform::PlistValue;
using platform::testing::occurrences;
using platform::testing::spinUntil;

namespace {

void tapThroughWindow(QWidget *widget, QPoint at) {
    QWidget *window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, at));
}

class ColorChooserEndToEnd : public SettingsPageHarness {
protected:
    std::string log() const { return daemon_.log(); }

    std::string storedColour() const {
        auto file = root_.readPlist(NBRPreferencesPath);
        if (!file || !file->count(NBRLEDColorKey) || !file->at(NBRLEDColorKey).string())
            return {};
        return *file->at(NBRLEDColorKey).string();
    }

    // The page of a connected DualShock 4 on screen, the daemon started with `options`, and the
    // chooser opened by a tap on its row, its map drawn.
    void openChooser(std::vector<std::string> options) {
        seed({{NBRControllerTypeKey, 1}, {NBRConnectionModeKey, 1}, {NBRLEDColorKey, "004efd"}});
        options.insert(options.end(), {"--connected", "1"});
        ASSERT_TRUE(daemon_.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"), options));
        open();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(navigation_->view()));

        // Coming on screen the page asks the daemon about the controller and rebuilds its rows
        // with the answer; the row to tap is the one made then. The title can change before
        // the query's last rebuild; the connect button (there in manual mode) taking taps
        // again says the exchange is over.
        ASSERT_TRUE(spinUntil([&] {
            const PSTableCell *connect = page_->connectSpecifier()->cellObject();
            return page_->connectSpecifier()->name() == "Disconnect Controller" &&
                   connect != nullptr && connect->isUserInteractionEnabled();
        }));
        row_ = dynamic_cast<NBRColorChooserCell *>(page_->ds4ColorChooser()->cellObject());
        ASSERT_NE(row_, nullptr);
        ASSERT_TRUE(spinUntil([&] { return row_->isVisible() && row_->height() > 0; }));
        tapThroughWindow(row_, row_->rect().center());
        chooser_ = qobject_cast<NBRColorPickerController *>(navigation_->topViewController());
        ASSERT_NE(chooser_, nullptr) << "a tap on the row opens the chooser";
        host_ = nbrtest::pickerHost(chooser_);
        ASSERT_NE(host_, nullptr);
        ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(chooser_); }));
    }

    platform::testing::ControllerDaemonProcess daemon_;
    QPointer<NBRColorChooserCell> row_;
    NBRColorPickerController *chooser_ = nullptr;
    UIViewHost *host_ = nullptr;
};

TEST_F(ColorChooserEndToEnd, ATapOnTheMapRecoloursTheRowAndTheConnectedLightBar) {
    ASSERT_NO_FATAL_FAILURE(openChooser({}));
    NBRColorPickerController *chooser = chooser_;
    UIViewHost *host = host_;
    QPointer<NBRColorChooserCell> row = row_;

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
    ASSERT_TRUE(spinUntil([&] { return occurrences(log(), message) == 2; })) << log();
    EXPECT_EQ(daemon_->stop(), 0);
}

// A finger dragged across the map for a second, moving every 10 ms, with a daemon that delays
// every reply by half a second: the light bar follows during the drag, no move waits for the
// daemon, the file is rewritten only now and then, and the colour under the finger at release is
// the one stored and the one the light bar ends on.
TEST_F(ColorChooserEndToEnd, ADragLightsTheBarAsItGoesWithoutWaitingForASlowDaemon) {
    ASSERT_NO_FATAL_FAILURE(openChooser({"--delay", "500"}));
    QVColorPickerView &picker = *chooser_->colorPicker();
    const CGRect map = picker.colorMapView().frame();
    QWidget *window = host_->window();
    const auto at = [&](double across, double down) {
        return host_->mapTo(window, QPoint(int(map.minX() + map.width() * across),
                                           int(map.minY() + map.height() * down)));
    };
    std::set<std::string> storedDuringDrag;
    auto slowest = std::chrono::steady_clock::duration::zero();
    const auto dragStart = std::chrono::steady_clock::now();
    QTest::mousePress(window->windowHandle(), Qt::LeftButton, {}, at(0.02, 0.02));
    for (int step = 1; step <= 100; ++step) {
        const auto start = std::chrono::steady_clock::now();
        QTest::mouseMove(window->windowHandle(), at(0.02 + 0.0096 * step, 0.02 + 0.0096 * step));
        QCoreApplication::processEvents();
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        storedDuringDrag.insert(storedColour());
        QTest::qWait(10);
    }
    const int sentDuringDrag = occurrences(log(), " set-light-color");
    const double dragMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - dragStart)
            .count();
    QTest::mouseRelease(window->windowHandle(), Qt::LeftButton, {}, at(0.98, 0.98));

    const std::string hex = NBRStringColorForUIColor(picker.color());
    EXPECT_EQ(storedColour(), hex) << "stored at the release";
    const std::string last = "light bar " + hex + " shown";
    ASSERT_TRUE(spinUntil(
        [&] {
            const std::string text = log();
            return text.rfind("light bar ") == text.rfind(last) &&
                   text.find(last) != std::string::npos;
        },
        platform::testing::scaled(std::chrono::seconds(5))))
        << log();
    EXPECT_GE(sentDuringDrag, 8) << "the light bar follows the finger: " << log();
    const double intervalMs =
        std::chrono::duration<double, std::milli>(NBRLiveColorInterval).count();
    EXPECT_LE(sentDuringDrag, 1 + dragMs / intervalMs) << "over " << dragMs << " ms: " << log();
    // As the light bar's spacing, against the drag's own length, which a slow build stretches.
    EXPECT_LE(storedDuringDrag.size(), 2 + dragMs / 500)
        << "the file is rewritten at most every half second, over " << dragMs << " ms";
    EXPECT_LT(slowest, std::chrono::milliseconds(500)) << "a move waited for the daemon's reply";
}

} // namespace
