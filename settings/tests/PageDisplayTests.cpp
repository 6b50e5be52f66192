// The Settings window on a real X display worked as a desktop user works it: the keyboard (Tab,
// Space, Return, Escape, Alt+Left), window sizes and a doubled scale, alerts and the progress
// overlay, all through the X server and read back from the screen.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "ScopedEnvironment.h"
#include "SettingsWindowOnScreen.h"
#include "SettingsWindowProbes.h"
#include "TestDeviceRoot.h"
#include "XvfbDisplay.h"

#include <QDir>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::testing::alertCardOn;
using platform::testing::boundsOfOtherPixels;
using platform::testing::ChildProcess;
using platform::testing::countOtherPixels;
using platform::testing::countPixels;
using platform::testing::progressOverlayOn;
using platform::testing::ScopedEnvironment;
using platform::testing::spinUntil;
using platform::testing::tableRowsOn;
using platform::testing::XvfbDisplay;

namespace {

const QColor kWhite(255, 255, 255);
const QColor kTint(0x00, 0x7a, 0xff);
const std::string kWindowTitle = "Settings";
// Where the window opens on this display.
const QRect kPage(0, 0, 390, 720);

// The focus ring: tint down the left edge of a row, where nothing else is ever drawn.
int ringPixels(const QImage &shot, const QRect &row) {
    return countPixels(shot, QRect(0, row.top(), 5, row.height()), kTint, 60);
}

// Lines of dark text in `area`: runs of pixel rows that hold some, apart by three blank rows or
// more (a descender or an i's dot is nearer its line).
int textLines(const QImage &shot, const QRect &area) {
    int lines = 0;
    int blank = 3;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const bool ink =
            countPixels(shot, QRect(area.left(), y, area.width(), 1), Qt::black, 90) > 0;
        lines += ink && blank >= 3 ? 1 : 0;
        blank = ink ? 0 : blank + 1;
    }
    return lines;
}

class PageDisplay : public SettingsWindowOnScreen {
protected:
    // The pointer rests on the bar, where keys reach the window with or without the keyboard
    // focus.
    explicit PageDisplay(int width = 1024, int height = 768)
        : SettingsWindowOnScreen(width, height) {
        pointerRest_ = {200, 22};
    }

    bool storedTrue(const char *key) {
        auto file = stored();
        return file && file->count(key) && file->at(key).boolValue().value_or(false);
    }

    // Keys one after the other, each given its time to go through the window.
    void keys(std::initializer_list<const char *> names) {
        for (const char *name : names) {
            display_.key(name);
            std::this_thread::sleep_for(60ms);
        }
    }

    // A pairing tool started from this test's device root, still running: its process id, 0
    // when there is none.
    pid_t toolProcess() {
        const std::string tool = root_.path(NBRDiscoveryToolPath);
        for (const auto &entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream cmdline(entry.path() / "cmdline");
            std::string first;
            if (std::getline(cmdline, first, '\0') && first == tool)
                return pid_t(std::atoi(entry.path().filename().c_str()));
        }
        return 0;
    }
    bool toolRunning() { return toolProcess() != 0; }

    // The Pair row tapped with nothing in radio range: the overlay stays up while the tool
    // searches.
    void startSearching() {
        simulator_ = std::make_unique<ChildProcess>(SIMULATOR_PATH, std::vector<std::string>{});
        ASSERT_TRUE(simulator_->waitForLine("ready"));
        seed({{NBRControllerTypeKey, 1}});
        ASSERT_NO_FATAL_FAILURE(openSettings(7));
        ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "Pair Controller"
        ASSERT_TRUE(
            display_.waitFor([](const QImage &s) { return progressOverlayOn(s, kPage); }, 10s));
        ASSERT_TRUE(spinUntil([&] { return toolRunning(); }, 5s));
    }

    std::unique_ptr<ChildProcess> simulator_;
};

TEST_F(PageDisplay, TabRingsTheRowItReachesAndSpaceWorksThatRow) {
    seed({{NBRControllerTypeKey, 1}});
    ASSERT_NO_FATAL_FAILURE(openSettings(7));
    QImage shot = display_.screenshot();
    const auto rows = tableRowsOn(shot, kPage);
    for (const QRect &row : rows)
        EXPECT_EQ(ringPixels(shot, row), 0) << "a ring before any key, at y " << row.top();

    // Controller Type, Connection Mode, Pair Controller, Ambient LED Color.
    keys({"Tab", "Tab", "Tab", "Tab"});
    const bool ringed =
        display_.waitFor([&](const QImage &s) { return ringPixels(s, rows[3]) > 40; }, 3s, &shot);
    saveShot(shot, "focus-ring");
    ASSERT_TRUE(ringed) << ringPixels(shot, rows[3]) << " ring pixels on the fourth row";
    for (std::size_t i = 0; i < rows.size(); ++i)
        EXPECT_EQ(i == 3 || ringPixels(shot, rows[i]) == 0, true) << "a ring on row " << i;

    // Space flips the ringed row's switch, and the ring stays on it.
    keys({"space"});
    EXPECT_TRUE(spinUntil([&] { return storedTrue(NBRAmbientColorKey); }, 3s));
    EXPECT_TRUE(waitForRows(6)) << "the colour row goes with ambient light";
    EXPECT_GT(ringPixels(display_.screenshot(), rows[3]), 40);
    EXPECT_FALSE(storedTrue(NBRSuppressNotificationKey));
}

TEST_F(PageDisplay, AnOpenAlertHoldsTheKeyboardAndItsKeysDismissIt) {
    seed({{NBRControllerTypeKey, 6}});
    ASSERT_NO_FATAL_FAILURE(openSettings(6));
    const auto rows = tableRowsOn(display_.screenshot(), kPage);
    const QPoint forceSwitch(349, rows[3].center().y()); // "Force Extended Gamepad"

    for (const char *dismissal : {"Escape", "Return", "space"}) {
        // The switch off again (the click goes through while no alert is up), then on: the
        // warning comes up.
        if (storedTrue(NBRForceExtendedGamepadKey)) {
            display_.click(forceSwitch);
            ASSERT_TRUE(spinUntil([&] { return !storedTrue(NBRForceExtendedGamepadKey); }, 3s));
        }
        display_.click(forceSwitch);
        display_.moveTo({200, 22});
        ASSERT_TRUE(
            display_.waitFor([](const QImage &s) { return !alertCardOn(s, kPage).isEmpty(); }, 5s))
            << dismissal;

        // Tab stays inside the alert, and Alt+Left goes nowhere: the page's switches and
        // screens are out of reach.
        keys({"Tab", "Tab", "Tab", "Alt_L+Left"});
        std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(alertCardOn(display_.screenshot(), kPage).isEmpty())
            << "a key dismissed the alert";

        keys({dismissal});
        EXPECT_TRUE(
            display_.waitFor([](const QImage &s) { return alertCardOn(s, kPage).isEmpty(); }, 3s))
            << dismissal << " left the alert up";
        // The key went no further than the alert: still the page, its banner switch as it was.
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(tableRowsOn(display_.screenshot(), kPage).size(), 6u)
            << dismissal << " left the page";
        EXPECT_FALSE(storedTrue(NBRSuppressNotificationKey)) << dismissal << ": a key reached it";
        EXPECT_TRUE(storedTrue(NBRForceExtendedGamepadKey));
    }
}

TEST_F(PageDisplay, EscapeOrAltLeftGoesBackAndAWaitingKeymapRowBindsEscape) {
    seed({{NBRControllerTypeKey, 6}});
    ASSERT_NO_FATAL_FAILURE(openSettings(6));
    for (const char *back : {"Escape", "Alt_L+Left"}) {
        ASSERT_NO_FATAL_FAILURE(tapRow(0)); // "Controller Type": the list of seven
        ASSERT_TRUE(waitForRows(7)) << back;
        keys({back});
        EXPECT_TRUE(waitForRows(6)) << back << " did not go back";
    }

    // In the keymap editor a row waiting for a key takes Escape as its key.
    ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "Configure Keymap"
    QImage shot;
    ASSERT_TRUE(display_.waitFor([](const QImage &s) { return tableRowsOn(s, kPage).size() >= 10; },
                                 5s, &shot));
    const QRect first = tableRowsOn(shot, kPage)[0]; // D-pad right
    const QRect value(240, first.top() + 2, 130, 40);
    ASSERT_NO_FATAL_FAILURE(tapRow(0));
    ASSERT_TRUE(display_.waitFor(
        [&](const QImage &s) { return countPixels(s, value, QColor(0, 0, 255), 60) > 20; }, 3s));
    keys({"Escape"});
    EXPECT_TRUE(display_.waitFor(
        [&](const QImage &s) {
            return countPixels(s, value, QColor(0, 0, 255), 60) == 0 &&
                   tableRowsOn(s, kPage).size() >= 10;
        },
        3s, &shot))
        << "Escape did not bind, or left the editor";
    // With no row waiting, Escape goes back; the editor stores what was bound.
    keys({"Escape"});
    EXPECT_TRUE(waitForRows(6));
    EXPECT_TRUE(spinUntil([&] {
        auto file = stored();
        const PlistValue::Dictionary *keymap = file && file->count(NBRKeyboardKeymapKey)
                                                   ? file->at(NBRKeyboardKeymapKey).dictionary()
                                                   : nullptr;
        return keymap && keymap->count("41") &&
               keymap->at("41").integerValue() == std::optional<std::int64_t>(1);
    }));
}

TEST_F(PageDisplay, TheKeymapEditorIsTitledAndNamesKeysInWords) {
    seed({{NBRControllerTypeKey, 6}});
    ASSERT_NO_FATAL_FAILURE(openSettings(6));
    ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "Configure Keymap"
    QImage shot;
    ASSERT_TRUE(display_.waitFor([](const QImage &s) { return tableRowsOn(s, kPage).size() >= 11; },
                                 5s, &shot));
    saveShot(shot, "keymap-editor");
    // The title in the middle of the bar, bold black as the page's own ("Nimbrel").
    EXPECT_GT(countPixels(shot, QRect(110, 8, 170, 28), Qt::black, 60), 100);
    // Pause, bound to Escape: the key's name reads as a word, not as a glyph a few pixels wide.
    const QRect pause = tableRowsOn(shot, kPage)[10];
    const QRect ink = boundsOfOtherPixels(shot, QRect(240, pause.top() + 4, 135, 36), kWhite, 60);
    EXPECT_GE(ink.width(), 20) << "Escape shown " << ink.width() << " × " << ink.height();
}

TEST_F(PageDisplay, EscapeCancelsASearchAndTheOverlayHidesThePageBehindIt) {
    ASSERT_NO_FATAL_FAILURE(startSearching());
    QImage shot = display_.screenshot();
    saveShot(shot, "searching");
    // Inside the box nothing of the page shows: page text behind it would be darker still.
    const QRect box = boundsOfOtherPixels(shot, QRect(60, 250, 270, 260), kWhite, 200);
    const QRect inside = box.adjusted(10, 10, -10, -10);
    EXPECT_EQ(countPixels(shot, inside, Qt::black, 24), 0) << "the page shows through";

    keys({"Escape"});
    EXPECT_TRUE(display_.waitFor([](const QImage &s) { return !progressOverlayOn(s, kPage); }, 3s));
    EXPECT_TRUE(spinUntil([&] { return !toolRunning(); }, 10s)) << "the tool still searches";
    EXPECT_TRUE(waitForRows(7)) << "Escape left the page";
}

TEST_F(PageDisplay, TheOverlayGoesWhenTheSearchEndedWhileThePageWasAway) {
    ASSERT_NO_FATAL_FAILURE(startSearching());
    // Another controller type mid-search: the page goes, and with it the tool.
    ASSERT_NO_FATAL_FAILURE(tapRow(0));
    ASSERT_TRUE(waitForRows(7));
    ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "SYNC Button Controller"
    ASSERT_TRUE(spinUntil([&] { return !toolRunning(); }, 10s));
    display_.click({50, 21});
    display_.moveTo({200, 22});
    ASSERT_TRUE(waitForRows(5));
    QImage shot;
    EXPECT_TRUE(
        display_.waitFor([](const QImage &s) { return !progressOverlayOn(s, kPage); }, 3s, &shot))
        << "the overlay of the ended search is still over the page";
    saveShot(shot, "search-ended-away");
}

TEST_F(PageDisplay, TheOverlayGoesWhenTheSearchEndsWithoutAResultOnScreen) {
    ASSERT_NO_FATAL_FAILURE(startSearching());
    ASSERT_EQ(::kill(toolProcess(), SIGKILL), 0);
    ASSERT_TRUE(spinUntil([&] { return !toolRunning(); }, 5s));
    EXPECT_TRUE(display_.waitFor([](const QImage &s) { return !progressOverlayOn(s, kPage); }, 3s))
        << "the overlay waits for a tool that is gone";
    EXPECT_EQ(tableRowsOn(display_.screenshot(), kPage).size(), 7u);
}

TEST_F(PageDisplay, AlertTitlesWrapInsideTheCard) {
    seed({{NBRControllerTypeKey, 0}});
    ASSERT_NO_FATAL_FAILURE(openSettings(5));
    ASSERT_NO_FATAL_FAILURE(tapRow(2)); // "E-mail Pairing Instructions", with no mail set up
    QImage shot;
    ASSERT_TRUE(display_.waitFor([](const QImage &s) { return !alertCardOn(s, kPage).isEmpty(); },
                                 5s, &shot));
    saveShot(shot, "alert-wrapped-title");
    const QRect card = alertCardOn(shot, kPage);
    // "Your E-mail account is not configured" on two lines, the message on two more.
    EXPECT_EQ(textLines(shot, card.adjusted(4, 4, -4, -50)), 4);
    // Nothing of it is cut at the card's sides: no text runs into its margins.
    const QRect inner = card.adjusted(2, 12, -2, -12);
    EXPECT_EQ(
        countPixels(shot, QRect(inner.left(), inner.top(), 10, inner.height()), Qt::black, 90), 0);
    EXPECT_EQ(
        countPixels(shot, QRect(inner.right() - 9, inner.top(), 10, inner.height()), Qt::black, 90),
        0);
}

TEST_F(PageDisplay, TheBackButtonStaysAtTheTopLeftAndNothingIsCutAtTheMinimumSize) {
    seed({{NBRControllerTypeKey, 6}});
    ASSERT_NO_FATAL_FAILURE(openSettings(6));
    auto backButton = [](const QImage &shot, int width) {
        return boundsOfOtherPixels(shot, QRect(0, 4, width / 3, 36), QColor(0xf7, 0xf7, 0xf7), 60);
    };
    EXPECT_LT(backButton(display_.screenshot(), 390).left(), 20);

    ASSERT_TRUE(display_.resizeWindow(kWindowTitle, {1000, 600}));
    QImage shot;
    EXPECT_TRUE(display_.waitFor(
        [&](const QImage &s) { return countPixels(s, QRect(990, 60, 10, 40), kWhite) > 100; }, 3s,
        &shot));
    const QRect wide = backButton(shot, 1000);
    EXPECT_LT(wide.left(), 20) << "the back button drifted to x " << wide.left();
    EXPECT_LT(wide.right(), 100);

    // At the smallest size the program allows, the page drawn again at that width shows every
    // value and switch whole, short of the 15-pixel margin a row keeps clear.
    const QSize minimum = display_.minimumWindowSize(kWindowTitle);
    ASSERT_FALSE(minimum.isEmpty()) << "no minimum size";
    ASSERT_TRUE(display_.resizeWindow(kWindowTitle, minimum));
    const int width = minimum.width();
    auto switchShown = [width](const QImage &s, const QRect &row) {
        return countOtherPixels(s, QRect(width - 15 - 51, row.top() + 6, 51, 32), kWhite, 8) > 50;
    };
    auto redrawn = [&](const QImage &s) {
        const auto rows = tableRowsOn(s, QRect(0, 0, width, minimum.height()));
        return display_.windowGeometry(kWindowTitle).size() == minimum && rows.size() >= 5 &&
               countPixels(s, QRect(width / 2 - 40, 8, 80, 28), Qt::black, 60) > 50 &&
               switchShown(s, rows[3]) && switchShown(s, rows[4]);
    };
    const bool shown = display_.waitFor(redrawn, 3s, &shot);
    saveShot(shot, "minimum-size");
    ASSERT_TRUE(shown) << "the page at " << width << " × " << minimum.height()
                       << " lacks its title or a switch";
    const auto rows = tableRowsOn(shot, QRect(0, 0, width, minimum.height()));
    for (const QRect &row : rows) {
        // The row's right end: the window's, or the scroll bar's left edge.
        int end = width - 1;
        while (end > 0 && QColor(shot.pixel(end, row.top() + 2)) != kWhite)
            --end;
        EXPECT_EQ(countOtherPixels(shot, QRect(end - 12, row.top() + 2, 13, 40), kWhite, 8), 0)
            << "the row at y " << row.top() << " runs past its end at " << end;
    }
    // The values of the first two rows ("Hardware Keyboard", "Automatic") show, if shortened.
    for (int i : {0, 1})
        EXPECT_GT(countOtherPixels(shot, QRect(width / 2, rows[i].top() + 4, width / 2 - 15, 36),
                                   kWhite, 60),
                  20)
            << "row " << i;
    EXPECT_GE(width, backButton(shot, width).right() + 1);
}

class PageDisplayOnALargerScreen : public PageDisplay {
protected:
    PageDisplayOnALargerScreen() : PageDisplay(1280, 900) {}
};

TEST_F(PageDisplayOnALargerScreen, TheFirstSizeFitsTheScreenAtEachScale) {
    seed({{NBRControllerTypeKey, 1}});
    ASSERT_NO_FATAL_FAILURE(openSettings(7));
    EXPECT_EQ(display_.windowGeometry(kWindowTitle), QRect(0, 0, 390, 720));
    settings_.reset();

    ScopedEnvironment doubled;
    doubled.set("QT_SCALE_FACTOR", "2");
    settings_ = std::make_unique<ChildProcess>(PREFERENCES_PATH,
                                               std::vector<std::string>{"--open", "Nimbrel"});
    ASSERT_TRUE(settings_->waitForLine("ready", 20s)) << settings_->output();
    QRect window;
    spinUntil(
        [&] {
            window = display_.windowGeometry(kWindowTitle);
            return !window.isEmpty();
        },
        5s);
    EXPECT_TRUE(QRect(0, 0, 1280, 900).contains(window))
        << window.width() << " × " << window.height() << " at twice the scale";
    EXPECT_EQ(window.width(), 780);
}

} // namespace
