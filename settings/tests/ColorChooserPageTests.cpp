// The settings page's side of the colour chooser: opening it on the stored colour, and what
// each reported colour does to the preferences file, the row and the control socket.
#include "ChildProcess.h"
#include "ColorChooserTestSupport.h"
#include "EventLoopWait.h"
#include "NBRColorChooserCell.h"
#include "NBRColorPickerController.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "NBRSupport.h"
#include "NimbrelListController.h"
#include "PlistValue.h"
#include "QVColorPickerView.h"
#include "SettingsPageHarness.h"
#include "UIGestureRecognizer.h"
#include "UINavigationController.h"
#include "UnixListener.h"
#include "WidgetTestEnvironment.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

NBR_WIDGET_TEST_ENVIRONMENT();

using platform::PlistValue;
using platform::UIColor;
using platform::testing::spinUntil;

namespace {

// Stands where the controller daemon listens, accepting nothing by itself: a connection the
// page opens waits in the backlog, so after a synchronous call its absence is certain.
class ControlSocketListener {
public:
    explicit ControlSocketListener(const std::string &path)
        : fd_(platform::testing::listenOnUnixSocket(path, 8, SOCK_NONBLOCK)) {}
    ~ControlSocketListener() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }

    // The bytes of the next waiting connection up to its close; nullopt when none waits.
    std::optional<std::string> takeConnection() {
        const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            return std::nullopt;
        std::string bytes;
        char chunk[64];
        for (ssize_t n; (n = ::recv(connection, chunk, sizeof chunk, MSG_DONTWAIT)) > 0;)
            bytes.append(chunk, std::size_t(n));
        ::close(connection);
        return bytes;
    }

    void drain() {
        while (takeConnection()) {
        }
    }

private:
    int fd_ = -1;
    bool ok_ = false;
};

class ColorChooserPage : public SettingsPageHarness {
protected:
    NimbrelListController *open() { return SettingsPageHarness::open({390, 720}); }
    // The page of a DualShock 4 on screen, `listener_` standing where the daemon listens.
    void openOverListener() {
        seed({{NBRControllerTypeKey, 1}});
        listener_.emplace(root_.path(NBRControlSocketPath));
        ASSERT_TRUE(listener_->ok());
        open();
    }

    NBRColorChooserCell *colorCell() const {
        return dynamic_cast<NBRColorChooserCell *>(page_->ds4ColorChooser()->cellObject());
    }

    // The swatch as "rrggbb", each channel rounded.
    std::string swatch() const {
        NBRColorChooserCell *cell = colorCell();
        if (cell == nullptr || !cell->colorMark()->backgroundColor())
            return "none";
        const UIColor c = *cell->colorMark()->backgroundColor();
        char text[8];
        std::snprintf(text, sizeof text, "%02x%02x%02x", int(std::lround(c.red() * 255)),
                      int(std::lround(c.green() * 255)), int(std::lround(c.blue() * 255)));
        return text;
    }

    std::optional<std::string> storedColour() {
        auto file = preferences();
        if (!file || !file->count(NBRLEDColorKey))
            return std::nullopt;
        const std::string *text = file->at(NBRLEDColorKey).string();
        return text != nullptr ? *text : "(not a string)";
    }

    NBRColorPickerController *chooser() const {
        return qobject_cast<NBRColorPickerController *>(navigation_->topViewController());
    }

    std::optional<ControlSocketListener> listener_;
};

TEST_F(ColorChooserPage, TheRowIsTheChooserCellAndOpensTheScreenOnTheStoredColour) {
    struct Case {
        std::optional<std::string> stored;
        double red, green, blue;
    };
    for (const Case &c :
         {Case{std::nullopt, 0, 78, 253}, Case{"ff8000", 255, 128, 0}, Case{"#ff8000", 0, 0, 0}}) {
        SCOPED_TRACE(c.stored.value_or("nothing stored"));
        PlistValue::Dictionary values{{NBRControllerTypeKey, 1}};
        if (c.stored)
            values.emplace(NBRLEDColorKey, *c.stored);
        seed(std::move(values));
        open();
        ASSERT_NE(colorCell(), nullptr) << "the page description's cell class is used";
        page_->tableCellTapped(page_->ds4ColorChooser().get());
        NBRColorPickerController *screen = chooser();
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(screen->delegate(), static_cast<NBRColorPickerControllerDelegate *>(page_));
        EXPECT_FALSE(screen->pickedColor());
        const UIColor start = screen->colorPicker()->color();
        EXPECT_NEAR(start.red() * 255, c.red, 1e-9);
        EXPECT_NEAR(start.green() * 255, c.green, 1e-9);
        EXPECT_NEAR(start.blue() * 255, c.blue, 1e-9);
    }
}

TEST_F(ColorChooserPage, GoingBackUntouchedStoresAndSendsNothing) {
    ASSERT_NO_FATAL_FAILURE(openOverListener());
    ControlSocketListener &daemon = *listener_;
    page_->tableCellTapped(page_->ds4ColorChooser().get());
    ASSERT_NE(chooser(), nullptr);
    navigation_->popViewControllerAnimated(true);
    EXPECT_EQ(storedColour(), std::nullopt);
    EXPECT_EQ(swatch(), "004efd");
    while (auto connection = daemon.takeConnection())
        EXPECT_NE(connection->size(), 16u) << "no colour message";
}

TEST_F(ColorChooserPage, APickIsStoredTruncatedAnnouncedAndShown) {
    seed({{NBRControllerTypeKey, 1}});
    open();
    platform::testing::ChildProcess observer(NOTIFYUTIL_PATH,
                                             {"-w", NBRPreferencesChangedNotification});
    ASSERT_TRUE(observer.waitForLine("ready"));
    page_->colorPickerDidPickColor(nullptr, UIColor::colorWithRed(1.0, 0.5, 0.0, 1));
    EXPECT_EQ(storedColour(), "ff7f00") << "0.5 × 255 truncates to 127";
    EXPECT_EQ(swatch(), "ff7f00");
    EXPECT_TRUE(observer.waitForLine(NBRPreferencesChangedNotification));
}

TEST_F(ColorChooserPage, APickForAnotherControllerTypeIsStoredButNotSent) {
    ASSERT_NO_FATAL_FAILURE(openOverListener());
    ControlSocketListener &daemon = *listener_;
    daemon.drain(); // what the page asked on appearing
    page_->setPreferenceValue(2, page_->specifierForID(NBRControllerTypeSpecifierID).get());
    page_->colorPickerDidPickColor(nullptr, UIColor::colorWithRed(0, 1, 0, 1));
    EXPECT_EQ(storedColour(), "00ff00");
    EXPECT_EQ(swatch(), "00ff00");
    EXPECT_EQ(daemon.takeConnection(), std::nullopt) << "no connection was opened";
}

TEST_F(ColorChooserPage, APickForADualShock4IsSentOnAConnectionOfItsOwn) {
    ASSERT_NO_FATAL_FAILURE(openOverListener());
    ControlSocketListener &daemon = *listener_;
    daemon.drain();
    page_->colorPickerDidPickColor(nullptr, UIColor::colorWithRed(1.0, 0.5, 0.0, 1));
    ASSERT_TRUE(page_->lightColorSender().waitUntilIdle(std::chrono::seconds(5)))
        << "sent off the main thread";
    NBRControlMessage colour{NBRControlCommandSetLightColor, NBRControllerTypeDualShock4};
    colour.payload[0] = 0xff;
    colour.payload[1] = 0x7f;
    const auto record = NBRControlEncode(colour);
    EXPECT_EQ(daemon.takeConnection(), std::string(record.begin(), record.begin() + 16))
        << "the stored colour, 16 bytes, and the connection closed";
    EXPECT_EQ(daemon.takeConnection(), std::nullopt) << "one connection per pick";
}

// A stored colour that is not text (a number, a switch, a real, data) is no colour at all: the
// swatch, the chooser and the light bar all take the default instead of reading its digits as hex.
TEST_F(ColorChooserPage, AStoredColourThatIsNotTextReadsAsTheDefaultEverywhere) {
    ControlSocketListener daemon(root_.path(NBRControlSocketPath));
    ASSERT_TRUE(daemon.ok());
    NBRControlMessage colour{NBRControlCommandSetLightColor, NBRControllerTypeDualShock4};
    colour.payload[0] = 0x00;
    colour.payload[1] = 0x4e;
    colour.payload[2] = 0xfd;
    const auto record = NBRControlEncode(colour);
    for (const PlistValue &value : {PlistValue(16744448), PlistValue(true), PlistValue(255.0),
                                    PlistValue(PlistValue::Data{0xfa, 0x01})}) {
        SCOPED_TRACE(static_cast<int>(value.type()));
        seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, value}});
        open();
        EXPECT_EQ(swatch(), "004efd");
        daemon.drain();
        page_->updateDS4ColorWithSocket(-1);
        EXPECT_EQ(daemon.takeConnection(), std::string(record.begin(), record.begin() + 16));
        page_->tableCellTapped(page_->ds4ColorChooser().get());
        ASSERT_NE(chooser(), nullptr);
        const UIColor start = chooser()->colorPicker()->color();
        EXPECT_NEAR(start.red() * 255, 0, 1e-9);
        EXPECT_NEAR(start.green() * 255, 78, 1e-9);
        EXPECT_NEAR(start.blue() * 255, 253, 1e-9);
        EXPECT_EQ(storedColour(), "(not a string)") << "reading it changes nothing";
    }
}

} // namespace

// Colours announced while the finger still moves go to the light bar at once, but to the file
// only every half second, and the last of them still reaches it when the page goes mid-drag.
TEST_F(ColorChooserPage, ADragsColoursAreSentAtOnceAndStoredNowAndThen) {
    ASSERT_NO_FATAL_FAILURE(openOverListener());
    ControlSocketListener &daemon = *listener_;
    page_->tableCellTapped(page_->ds4ColorChooser().get());
    NBRColorPickerController *screen = chooser();
    ASSERT_NE(screen, nullptr);
    ASSERT_TRUE(spinUntil([&] { return nbrtest::mapShown(screen); }));
    daemon.drain();
    QVColorPickerView &picker = *screen->colorPicker();
    timeval clock = picker.lastDrawTime();
    picker.setClock([&clock] {
        clock.tv_sec += 1; // every move announces
        return clock;
    });
    auto &pan = *picker.colorMapView().gestureRecognizers()[1];
    const CGRect map = picker.colorMapView().frame();
    const auto tile = [&](int column) {
        return CGPoint{map.minX() + 8 + 16 * column, map.minY() + 8};
    };
    const auto hexOf = [&] { return NBRStringColorForUIColor(picker.color()); };
    const auto sent = [&]() -> std::string {
        if (!page_->lightColorSender().waitUntilIdle(std::chrono::seconds(5)))
            return "still sending";
        auto bytes = daemon.takeConnection();
        if (!bytes || bytes->size() != 16)
            return "no colour";
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x%02x%02x", std::uint8_t((*bytes)[12]),
                      std::uint8_t((*bytes)[13]), std::uint8_t((*bytes)[14]));
        return hex;
    };

    pan.report(UIGestureRecognizerState::Began, {tile(0)});
    pan.report(UIGestureRecognizerState::Changed, {tile(0)});
    pan.report(UIGestureRecognizerState::Changed, {tile(3)});
    ASSERT_TRUE(picker.isTracking());
    EXPECT_EQ(sent(), hexOf()) << "the light bar follows at once";
    pan.report(UIGestureRecognizerState::Changed, {tile(6)});
    const std::string sixth = hexOf();
    EXPECT_EQ(sent(), sixth);
    EXPECT_EQ(storedColour(), std::nullopt) << "not stored with every colour";
    ASSERT_TRUE(spinUntil([&] { return storedColour() == sixth; }))
        << "stored within half a second";

    pan.report(UIGestureRecognizerState::Changed, {tile(9)});
    const std::string ninth = hexOf();
    EXPECT_EQ(sent(), ninth);
    delete navigation_; // the page goes, the finger still down
    navigation_ = nullptr;
    EXPECT_EQ(storedColour(), ninth);
}
