// The Settings window on a real X display of the test's own, worked only as a person works it:
// clicks, drags and key presses through the X server, and what the screen shows read back from
// it. Nothing here reaches into the window's widgets or its bus handle; what the tests know of
// the window is where things sit on it and what the preferences file holds afterwards.
#include "ChildProcess.h"
#include "ControllerDaemonProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "PlistValue.h"
#include "SettingsWindowOnScreen.h"
#include "SettingsWindowProbes.h"
#include "TestDeviceRoot.h"
#include "XvfbDisplay.h"

#include <QDir>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::testing::alertCardOn;
using platform::testing::boundsOfOtherPixels;
using platform::testing::ChildProcess;
using platform::testing::colourFromHex;
using platform::testing::ControllerDaemonProcess;
using platform::testing::countOtherPixels;
using platform::testing::countPixels;
using platform::testing::nearColour;
using platform::testing::progressOverlayOn;
using platform::testing::spinUntil;
using platform::testing::tableRowsOn;
using platform::testing::XvfbDisplay;

namespace {

// The Settings app's window, where the fixture has it.
const QRect kWindow(0, 0, 390, 720);
const QColor kWhite(255, 255, 255);
const QColor kPageBackground(0xef, 0xef, 0xf4);
const QColor kTint(0x00, 0x7a, 0xff);
// Where the "LED Color" screen puts its parts in a 390 × 720 window (a 44-point bar on top):
// the map is 24 × 35 tiles of 16 points, and the knob's centre travels over the slider from
// x = 91 (brightness 1.0) to x = 373 (the lower limit 0.4) at y = 120.
const QRect kMap(0, 160, 384, 560);
constexpr int kTile = 16;
constexpr int kKnobLeft = 91;
constexpr int kKnobSpan = 282;
constexpr int kKnobY = 120;

// Tiles of the colour map that show a colour; a tile the map never drew is white.
int drawnTiles(const QImage &shot) {
    int drawn = 0;
    for (int row = 0; row < kMap.height() / kTile; ++row)
        for (int column = 0; column < kMap.width() / kTile; ++column) {
            const QColor c(shot.pixel(kMap.left() + column * kTile + kTile / 2,
                                      kMap.top() + row * kTile + kTile / 2));
            drawn += std::min({c.red(), c.green(), c.blue()}) < 245 ? 1 : 0;
        }
    return drawn;
}

std::string describe(const QColor &c) {
    return c.name().toStdString();
}

// The page under an alert is dimmed: its background darkened by a black of alpha 90.
bool dimmed(const QImage &shot) {
    return nearColour(QColor(shot.pixel(5, 60)), QColor(155, 155, 158), 3);
}

class RealWindow : public SettingsWindowOnScreen {
protected:
    // Waits (3 s at most) for a stored colour that `fits`; the last one read.
    template <class Check> std::string storedColourOnceIt(Check fits) {
        std::string hex;
        spinUntil(
            [&] {
                hex = storedColour();
                return !hex.empty() && fits(hex);
            },
            3s);
        return hex;
    }

    // Chooses the row `choice` of the list behind row `listRow`, then comes back to the page.
    void choose(std::size_t listRow, std::size_t listRows, std::size_t choice) {
        ASSERT_NO_FATAL_FAILURE(tapRow(listRow));
        ASSERT_TRUE(waitForRows(listRows));
        ASSERT_NO_FATAL_FAILURE(tapRow(choice));
        // The check mark moves to the chosen row.
        ASSERT_TRUE(display_.waitFor(
            [choice](const QImage &shot) {
                const auto rows = tableRowsOn(shot, kWindow);
                return choice < rows.size() &&
                       countPixels(shot, QRect(350, rows[choice].top(), 30, 44), kTint, 40) > 5;
            },
            5s));
        back();
    }

    bool waitForMap(QImage *shot) {
        return display_.waitFor([](const QImage &s) { return drawnTiles(s) >= 830; }, 5s, shot);
    }
};

// Rows of the page with a DualShock 4 and automatic connection.
constexpr std::size_t kDualShockRows = 7;
constexpr std::size_t kChooseLEDColorRow = 4;

TEST_F(RealWindow, ColourMapIsOnScreenAtEachOfThreeOpeningsBeforeAnyTouch) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "004efd"}});
    ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
    for (int opening = 1; opening <= 3; ++opening) {
        ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
        QImage shot;
        const bool drawn = waitForMap(&shot);
        saveShot(shot, "led-color-opening-" + std::to_string(opening));
        ASSERT_TRUE(drawn) << "opening " << opening << ": " << drawnTiles(shot)
                           << " of 840 tiles drawn";
        // The top-left tile is red at the stored colour's brightness (0xfd).
        EXPECT_TRUE(nearColour(QColor(shot.pixel(8, kMap.top() + 8)), QColor(0xfd, 0, 0), 3))
            << describe(QColor(shot.pixel(8, kMap.top() + 8)));
        back();
        ASSERT_TRUE(waitForRows(kDualShockRows));
    }
}

TEST_F(RealWindow, QuickAndSlowDragsOnTheMapStoreTheColourUnderThePointerAtRelease) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "004efd"}});
    ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
    ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
    QImage before;
    ASSERT_TRUE(waitForMap(&before));

    struct Drag {
        const char *name;
        std::vector<QPoint> path;
    };
    std::vector<QPoint> slow;
    for (int step = 0; step <= 30; ++step)
        slow.emplace_back(328 - step * 7, 616 - step * 12); // tile centres: (328, 616)...(118, 256)
    const std::vector<Drag> drags = {
        {"quick", {{40, 200}, {200, 408}}}, // one move: the recogniser begins and ends
        {"slow", slow},
        {"quick again", {{200, 408}, {24, 184}}},
    };
    for (const Drag &drag : drags) {
        const QPoint release = drag.path.back();
        // What the pointer will be over when it lets go, before the cursor comes there.
        const QColor under(before.pixel(release));
        display_.drag(drag.path, drag.path.size() > 2 ? 15ms : 40ms);
        display_.moveTo({700, 700});
        const std::string hex = storedColourOnceIt(
            [&](const std::string &stored) { return nearColour(colourFromHex(stored), under, 3); });
        EXPECT_TRUE(nearColour(colourFromHex(hex), under, 3))
            << drag.name << " drag: stored " << hex << ", under the pointer " << describe(under);
        // The cursor now sits on that tile, drawn in its colour.
        QImage after;
        EXPECT_TRUE(display_.waitFor(
            [&](const QImage &shot) { return nearColour(QColor(shot.pixel(release)), under, 4); },
            2s, &after))
            << drag.name << ": " << describe(QColor(after.pixel(release)));
        before = after;
    }
}

// With a DualShock 4 connected, the light bar follows the pointer across the map: the daemon's
// log (its lines stamped on the monotonic clock this test reads too) shows several colours
// before the release, never two closer than the picker's wait, and last the colour stored.
TEST_F(RealWindow, DraggingOnTheMapLightsTheConnectedBarAsThePointerGoes) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "004efd"}});
    ControllerDaemonProcess daemon;
    ASSERT_TRUE(daemon.start(CONTROLLERD_PATH, root_.path("/tmp/controller-daemon.log"),
                             {"--timestamps", "--connected", "1"}));
    ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
    ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
    ASSERT_TRUE(waitForMap(nullptr));

    std::vector<QPoint> path;
    for (int step = 0; step <= 60; ++step)
        path.emplace_back(8 + step * 6, kMap.top() + 8 + step * 9);
    display_.drag(path, 15ms);
    const double released =
        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    display_.moveTo({700, 700});

    // The colour under the pointer where it let go is stored, and the light bar ends on it.
    std::string hex;
    using Sent = ControllerDaemonProcess::LightBar;
    std::vector<Sent> sent;
    spinUntil(
        [&] {
            hex = storedColour();
            sent = daemon.lightBars();
            return hex != "004efd" && !sent.empty() && sent.back().colour == hex;
        },
        3s);
    ASSERT_FALSE(sent.empty()) << daemon.log();
    EXPECT_EQ(sent.back().colour, hex) << daemon.log();
    const auto beforeRelease = std::count_if(sent.begin(), sent.end(),
                                             [released](const Sent &s) { return s.at < released; });
    EXPECT_GE(beforeRelease, 4) << "the light bar followed the pointer: " << daemon.log();
    double closest = 1e9;
    for (std::size_t i = 1; i < sent.size(); ++i) {
        closest = std::min(closest, sent[i].at - sent[i - 1].at);
        EXPECT_GE(sent[i].at - sent[i - 1].at, 0.060)
            << sent[i - 1].colour << " then " << sent[i].colour << ": " << daemon.log();
    }
    std::printf("light bar: %zu colours, %td before the release, the closest two %.1f ms apart\n",
                sent.size(), beforeRelease, closest * 1000);
    EXPECT_EQ(daemon->stop(), 0);
}

TEST_F(RealWindow, QuickAndSlowDragsOnTheSliderStoreTheBrightnessAtRelease) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "ff0000"}});
    ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
    ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
    ASSERT_TRUE(waitForMap(nullptr));

    auto knobX = [](double brightness) {
        return kKnobLeft + int(std::lround(kKnobSpan * (1 - brightness) / 0.6));
    };
    auto brightnessAt = [](int x) {
        return 1 - 0.6 * std::clamp(x - kKnobLeft, 0, kKnobSpan) / double(kKnobSpan);
    };
    std::vector<QPoint> slow;
    for (int x = knobX(brightnessAt(300)); x >= 150; x -= 6)
        slow.emplace_back(x, kKnobY);
    slow.emplace_back(150, kKnobY);
    const std::vector<std::pair<const char *, std::vector<QPoint>>> drags = {
        {"quick", {{knobX(1.0), kKnobY}, {300, kKnobY}}},
        {"slow", slow},
        {"quick past the end", {{150, kKnobY}, {389, kKnobY + 3}}},
    };
    for (const auto &[name, path] : drags) {
        display_.drag(path, path.size() > 2 ? 15ms : 40ms);
        display_.moveTo({700, 700});
        const double expected = brightnessAt(path.back().x());
        const QColor wanted = QColor::fromRgbF(float(expected), 0, 0);
        const std::string hex = storedColourOnceIt([&](const std::string &stored) {
            return nearColour(colourFromHex(stored), wanted, 2);
        });
        EXPECT_TRUE(nearColour(colourFromHex(hex), wanted, 2))
            << name << " drag: stored " << hex << ", the pointer let go at brightness " << expected;
        // The knob's disc shows the colour where the pointer let go.
        const QPoint knob(knobX(expected), kKnobY);
        QImage shot;
        EXPECT_TRUE(display_.waitFor(
            [&](const QImage &s) { return nearColour(QColor(s.pixel(knob)), wanted, 4); }, 2s,
            &shot))
            << name << ": " << describe(QColor(shot.pixel(knob)));
    }
}

TEST_F(RealWindow, KnobOfADarkColourSitsAtTheEndOfTheSlider) {
    for (const char *dark : {"333333", "000000"}) {
        seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, dark}});
        ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
        ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
        ASSERT_TRUE(waitForMap(nullptr));
        // The knob's disc, in the colour, at the track's dark end; its ring around it.
        const QPoint end(kKnobLeft + kKnobSpan, kKnobY);
        QImage shot;
        EXPECT_TRUE(display_.waitFor(
            [&](const QImage &s) {
                return nearColour(QColor(s.pixel(end)), colourFromHex(dark), 3);
            },
            3s, &shot))
            << dark << ": " << describe(QColor(shot.pixel(end)));
        EXPECT_GT(countPixels(shot, QRect(end.x() - 14, end.y() - 14, 28, 28), kWhite, 40), 20)
            << dark;
        settings_.reset();
    }
}

TEST_F(RealWindow, EveryControllerTypeKeepsItsRowsInsideTheWindow) {
    // A row wider than the window shows cut off at the window's edge: its content then runs
    // through the right margin (15 pixels) that a row keeps clear.
    auto overflowing = [](const QImage &shot) {
        std::vector<int> rows;
        const auto all = tableRowsOn(shot, kWindow);
        for (std::size_t i = 0; i < all.size(); ++i)
            if (countOtherPixels(shot, QRect(377, all[i].top() + 2, 13, 40), kWhite, 8) > 0)
                rows.push_back(int(i));
        return rows;
    };
    for (int type = 0; type <= 6; ++type) {
        seed({{NBRControllerTypeKey, type}, {NBRConnectionModeKey, 1}});
        ASSERT_NO_FATAL_FAILURE(openSettings(0));
        QImage shot = display_.screenshot();
        saveShot(shot, "type-" + std::to_string(type));
        const std::size_t rows = tableRowsOn(shot, kWindow).size();
        EXPECT_EQ(overflowing(shot), std::vector<int>{}) << "type " << type;
        // A tap on a lower row (the banner switch, second from the end) scrolls nothing aside.
        ASSERT_NO_FATAL_FAILURE(tapRow(rows - 2));
        std::this_thread::sleep_for(300ms);
        shot = display_.screenshot();
        EXPECT_EQ(tableRowsOn(shot, kWindow).size(), rows) << "type " << type;
        EXPECT_EQ(overflowing(shot), std::vector<int>{}) << "type " << type << " after a tap";
        settings_.reset();
    }
}

TEST_F(RealWindow, TypicalRunByClicksPairsADualShock4AndConnectsIt) {
    // Every process of the typical run, banners shown by dunst on this display.
    root_.addSpringBoardPlugin(PLUGIN_PATH);
    const std::string bannerConfig = root_.path("/tmp/dunstrc"); // empty: dunst's own defaults
    std::ofstream(bannerConfig).close();
    ChildProcess banners("dunst", {"-print", "-conf", bannerConfig});
    const bool bannersUp = spinUntil(
        [] {
            ChildProcess ask("dbus-send",
                             {"--session", "--print-reply", "--dest=org.freedesktop.DBus",
                              "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                              "string:org.freedesktop.Notifications"});
            ask.wait(5s);
            return ask.output().find("boolean true") != std::string::npos;
        },
        10s);
    ASSERT_TRUE(bannersUp) << "dunst never took the notification server's name";
    ChildProcess springboard(SPRINGBOARD_PATH, {});
    ASSERT_TRUE(springboard.waitForLine("ready"));
    ChildProcess simulator(SIMULATOR_PATH, {"--scenario", SCENARIO_PATH});
    ASSERT_TRUE(simulator.waitForLine("ready"));
    ControllerDaemonProcess daemon;
    ASSERT_TRUE(daemon.start(CONTROLLERD_PATH, root_.path("/tmp/controller-daemon.log"),
                             {"--connect-delay", "800"}));

    // 1. A fresh page (no preferences file yet): set the controller type to the DualShock 4.
    ASSERT_NO_FATAL_FAILURE(openSettings(5));
    ASSERT_NO_FATAL_FAILURE(choose(0, 7, 1));
    // 2. The page gains "Pair Controller" and the DualShock 4 group with the colour swatch.
    ASSERT_TRUE(waitForRows(kDualShockRows));
    // The swatch may be painted after the rows appear.
    QImage shot;
    EXPECT_TRUE(display_.waitFor(
        [](const QImage &s) {
            const auto rows = tableRowsOn(s, kWindow);
            return rows.size() > kChooseLEDColorRow &&
                   countPixels(s, QRect(340, rows[kChooseLEDColorRow].top(), 40, 44),
                               QColor(0x00, 0x4e, 0xfd), 2) > 100;
        },
        5s, &shot))
        << "the colour swatch in the default colour";
    saveShot(shot, "typical-run-1-page");
    auto file = stored();
    ASSERT_TRUE(file && file->count(NBRControllerTypeKey));
    EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 1);

    // 3. "Pair Controller": the progress overlay while the tool pairs.
    ASSERT_NO_FATAL_FAILURE(tapRow(2));
    EXPECT_TRUE(display_.waitFor([](const QImage &s) { return progressOverlayOn(s, kWindow); }, 10s,
                                 &shot));
    saveShot(shot, "typical-run-2-pairing");
    // 4. The address is stored; the success alerts come up over the dimmed window.
    const bool paired = spinUntil(
        [&] {
            file = stored();
            return file && file->count(NBRBluetoothAddressKey) &&
                   file->at(NBRBluetoothAddressKey).data() &&
                   file->at(NBRBluetoothAddressKey).data()->size() == 6;
        },
        30s);
    ASSERT_TRUE(paired) << "no controller address stored";
    int alerts = 0;
    for (;;) {
        QImage withAlert;
        const bool up = display_.waitFor(
            [](const QImage &s) {
                return !alertCardOn(s, kWindow).isEmpty() && !progressOverlayOn(s, kWindow);
            },
            alerts == 0 ? 20s : 2s, &withAlert);
        if (!up)
            break;
        ++alerts;
        saveShot(withAlert, "typical-run-3-alert-" + std::to_string(alerts));
        const QRect card = alertCardOn(withAlert, kWindow);
        EXPECT_NEAR(card.center().x(), kWindow.center().x(), 2) << "alert " << alerts;
        EXPECT_NEAR(card.center().y(), kWindow.center().y(), 2) << "alert " << alerts;
        EXPECT_TRUE(dimmed(withAlert)) << describe(QColor(withAlert.pixel(5, 60)));
        // Outside the window nothing: the alert is no window of its own.
        EXPECT_EQ(countOtherPixels(withAlert, QRect(390, 0, 634, 768), Qt::black), 0);
        // Its button, at the bottom of the card.
        display_.click({card.center().x(), card.bottom() - 24});
        display_.moveTo({700, 700});
        display_.waitFor([&](const QImage &s) { return alertCardOn(s, kWindow) != card; }, 3s);
        ASSERT_LT(alerts, 4) << "alerts keep coming";
    }
    EXPECT_EQ(alerts, 1) << "one success alert, though a DualShock 4 reports once per channel";
    shot = display_.screenshot();
    EXPECT_FALSE(dimmed(shot));
    EXPECT_EQ(QColor(shot.pixel(5, 60)), kPageBackground);

    // 5. Connection mode Manual, then "Connect Controller" (the row under the mode).
    ASSERT_NO_FATAL_FAILURE(choose(1, 2, 1));
    ASSERT_TRUE(waitForRows(kDualShockRows + 1));
    ASSERT_NO_FATAL_FAILURE(tapRow(2));
    daemon.waitForLog("set-light-color", 20s);
    const std::string log = daemon.log();
    EXPECT_NE(log.find("connect type=1"), std::string::npos) << log;
    EXPECT_NE(log.find("set-light-color type=1"), std::string::npos) << log;
    // The button comes back, now to disconnect.
    EXPECT_TRUE(display_.waitFor(
        [](const QImage &s) {
            const auto rows = tableRowsOn(s, kWindow);
            return rows.size() == kDualShockRows + 1 &&
                   countPixels(s, QRect(15, rows[2].top(), 200, 44), kTint, 30) > 50;
        },
        25s));
    // The label's right end: "Disconnect Controller" reaches further than "Connect Controller".
    auto labelEnd = [](const QImage &s) {
        const auto rows = tableRowsOn(s, kWindow);
        return rows.size() == kDualShockRows + 1
                   ? boundsOfOtherPixels(s, QRect(15, rows[2].top() + 2, 360, 40), kWhite, 30)
                         .right()
                   : -1;
    };
    const int disconnectEnd = labelEnd(display_.screenshot());
    // 5b. Another client releases the controller: the button offers to connect at once.
    const int other = NBRConnectToControlSocket();
    ASSERT_GE(other, 0);
    NBRControlDisconnect(other, NBRControllerTypeDualShock4);
    ::close(other);
    EXPECT_TRUE(display_.waitFor(
        [&](const QImage &s) {
            const int end = labelEnd(s);
            return end > 0 && end < disconnectEnd - 15;
        },
        10s, &shot))
        << "the label still ends at " << labelEnd(display_.screenshot()) << ", as at "
        << disconnectEnd;
    saveShot(shot, "typical-run-5-released");
    // 6. The banners show on the screen, beside the Settings window.
    EXPECT_TRUE(display_.waitFor(
        [](const QImage &s) {
            return countOtherPixels(s, QRect(390, 0, 634, 300), Qt::black) > 500;
        },
        10s, &shot));
    saveShot(shot, "typical-run-4-connected");
    banners.waitForLine("never", 500ms); // reads what it printed so far
    EXPECT_NE(banners.output().find("body:"), std::string::npos) << banners.output();
}

TEST_F(RealWindow, KeyPressedOnTheKeyboardIsBoundInTheKeymapEditor) {
    seed({{NBRControllerTypeKey, 6}});
    ASSERT_NO_FATAL_FAILURE(openSettings(6));
    ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "Configure Keymap"
    QImage shot;
    ASSERT_TRUE(display_.waitFor(
        [](const QImage &s) { return tableRowsOn(s, kWindow).size() >= 10; }, 5s, &shot));
    const QRect first = tableRowsOn(shot, kWindow)[0]; // D-pad right, bound to D
    const QRect value(240, first.top() + 2, 130, 40);
    const QImage bound = shot.copy(value);
    ASSERT_NO_FATAL_FAILURE(tapRow(0));
    // The row waits for a key: its value reads "Press Key..." in blue.
    EXPECT_TRUE(display_.waitFor(
        [&](const QImage &s) { return countPixels(s, value, QColor(0, 0, 255), 60) > 20; }, 3s,
        &shot));
    // Keys go to the window under the pointer (there is no window manager to give focus).
    display_.moveTo({200, 22});
    display_.key("z");
    EXPECT_TRUE(display_.waitFor(
        [&](const QImage &s) {
            return countPixels(s, value, QColor(0, 0, 255), 60) == 0 && s.copy(value) != bound;
        },
        3s, &shot));
    back();
    ASSERT_TRUE(waitForRows(6));
    EXPECT_TRUE(spinUntil([&] {
        auto file = stored();
        const PlistValue::Dictionary *keymap = file && file->count(NBRKeyboardKeymapKey)
                                                   ? file->at(NBRKeyboardKeymapKey).dictionary()
                                                   : nullptr;
        return keymap && keymap->count("29") && !keymap->count("7"); // Z now, no longer D
    }));
}

} // namespace
