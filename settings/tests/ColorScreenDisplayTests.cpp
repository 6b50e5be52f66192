// The "LED Color" screen on a real X display of the test's own, in a window a person resizes:
// worked through the X server only, and judged by what the screen shows and what the
// preferences file holds.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
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
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::UIColor;
using platform::testing::ChildProcess;
using platform::testing::colourFromHex;
using platform::testing::countOtherPixels;
using platform::testing::countPixels;
using platform::testing::nearColour;
using platform::testing::spinUntil;
using platform::testing::tableRowsOn;
using platform::testing::XvfbDisplay;

namespace {

constexpr int kBar = 44;
constexpr int kTile = 16;
constexpr double kLimit = 0.9; // the picker's saturation limit
const QColor kWhite(255, 255, 255);
constexpr std::size_t kDualShockRows = 7;
constexpr std::size_t kChooseLEDColorRow = 4;

QColor toScreen(const UIColor &c) {
    return QColor(int(c.red() * 255 + 0.5), int(c.green() * 255 + 0.5), int(c.blue() * 255 + 0.5));
}

// What the picker shows in a window of `window`, read off a screenshot; `problem` says what is
// wrong, empty when it is as it should be for `colour` (its brightness full).
struct PickerOnScreen {
    QSize window;
    int columns = 0;
    int rows = 0;
    int mapTop = 0;
    QRect swatch;
    std::string problem;

    QPoint tileCentre(int column, int row) const {
        return {column * kTile + kTile / 2, mapTop + row * kTile + kTile / 2};
    }
    UIColor tileColour(int column, int row) const {
        const double saturation = rows > 1 ? 1.0 - kLimit * row / (rows - 1) : 1.0;
        return UIColor::colorWithHue(double(column) / columns, saturation, 1.0, 1.0);
    }
    // The tile a colour of full brightness sits on.
    std::pair<int, int> tileOf(const UIColor &colour) const {
        double h = 0, s = 0, v = 0, a = 0;
        colour.getHue(&h, &s, &v, &a);
        const int column = int(h * columns + 0.5) % columns;
        const int row = std::clamp(int((1 - s) / kLimit * (rows - 1) + 0.5), 0, rows - 1);
        return {column, row};
    }
};

PickerOnScreen readPicker(const QImage &shot, QSize window, const UIColor &colour) {
    PickerOnScreen p;
    p.window = window;
    auto fail = [&](std::string why) {
        p.problem = std::move(why);
        return p;
    };
    // The map's first column is red fading towards white downwards; above it the picker is white.
    auto firstColumn = [&](int y) {
        const QColor c(shot.pixel(kTile / 2, y));
        return c.red() >= 250 && std::abs(c.green() - c.blue()) <= 2 && c.green() < 245;
    };
    const int bottom = window.height() - 1;
    if (!firstColumn(bottom))
        return fail("no map at the window's bottom left");
    int top = bottom;
    while (top > kBar && firstColumn(top - 1))
        --top;
    p.mapTop = top;
    p.columns = window.width() / kTile;
    p.rows = (window.height() - top) / kTile;
    if ((window.height() - top) % kTile != 0 || p.rows < 2)
        return fail("the map's first column is " + std::to_string(window.height() - top) +
                    " pixels tall");

    // Every tile in its colour, save those under the cursor, which sits on the colour's tile.
    const auto [cursorColumn, cursorRow] = p.tileOf(colour);
    const QPoint cursor = p.tileCentre(cursorColumn, cursorRow);
    for (int row = 0; row < p.rows; ++row)
        for (int column = 0; column < p.columns; ++column) {
            const QPoint centre = p.tileCentre(column, row);
            if ((centre - cursor).manhattanLength() < 2 * kTile + 2)
                continue;
            const QColor shown(shot.pixel(centre));
            const QColor wanted = toScreen(p.tileColour(column, row));
            if (!nearColour(shown, wanted, 3))
                return fail("tile " + std::to_string(column) + "," + std::to_string(row) + " of " +
                            std::to_string(p.columns) + "x" + std::to_string(p.rows) + " shows " +
                            shown.name().toStdString() + ", not " + wanted.name().toStdString());
        }
    const QColor disc(shot.pixel(cursor));
    const QColor ring(shot.pixel(cursor + QPoint(11, 0)));
    if (!nearColour(disc, toScreen(colour), 3) ||
        std::min({ring.red(), ring.green(), ring.blue()}) < 150)
        return fail("no cursor on tile " + std::to_string(cursorColumn) + "," +
                    std::to_string(cursorRow) + ": " + disc.name().toStdString() + " ringed by " +
                    ring.name().toStdString());

    // Above the map: the swatch whole, its caption under it, the slider beside it.
    const QRect above(0, kBar + 1, window.width(), top - kBar - 1);
    QRect swatch;
    for (int y = above.top(); y <= above.bottom(); ++y)
        for (int x = 0; x < 78; ++x) // the slider's knob, in the colour too, begins further right
            if (nearColour(QColor(shot.pixel(x, y)), toScreen(colour), 2))
                swatch |= QRect(x, y, 1, 1);
    if (swatch.width() < 60 || swatch.height() < 60)
        return fail("the swatch shows " + std::to_string(swatch.width()) + "x" +
                    std::to_string(swatch.height()) + " pixels");
    p.swatch = swatch;
    const QRect caption(swatch.left(), swatch.bottom() + 2, swatch.width(), 16);
    if (caption.bottom() >= top || countOtherPixels(shot, caption, kWhite, 20) < 15)
        return fail("no caption under the swatch");
    const QRect slider(swatch.right() + 10, above.top(), window.width() - swatch.right() - 10,
                       above.height());
    if (countOtherPixels(shot, slider, kWhite, 20) < 1000)
        return fail("no slider beside the swatch");
    return p;
}

class ColorScreenDisplay : public SettingsWindowOnScreen {
protected:
    ColorScreenDisplay() : SettingsWindowOnScreen(1280, 900) { pointerRest_ = {1275, 895}; }

    void resize(QSize size) {
        ASSERT_TRUE(display_.resizeWindow("Settings", size)) << "no Settings window to resize";
        window_.setSize(size);
    }

    // Waits until the picker shows `colour` as it should at the window's size.
    PickerOnScreen waitForPicker(const UIColor &colour, QImage *shot) {
        PickerOnScreen picker;
        display_.waitFor(
            [&](const QImage &s) {
                picker = readPicker(s, window_.size(), colour);
                return picker.problem.empty();
            },
            5s, shot);
        return picker;
    }
};

// Whether a stored colour would come back one step off through hue, saturation and brightness,
// though the text's own colour converts back to the text.
bool driftsThroughHsb(const std::string &hex) {
    const UIColor exact = NBRColorForHexString(hex.c_str());
    double h = 0, s = 0, v = 0, a = 0;
    exact.getHue(&h, &s, &v, &a);
    return NBRStringColorForUIColor(exact) == hex &&
           NBRStringColorForUIColor(UIColor::colorWithHue(h, s, v, 1.0)) != hex;
}

TEST_F(ColorScreenDisplay, EverySizeLaysThePickerOutAgainAndAClickStoresTheTileUnderThePointer) {
    ASSERT_TRUE(root_.writePlist(NBRPreferencesPath,
                                 {{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "00ffff"}},
                                 platform::PlistFormat::Binary));
    ASSERT_NO_FATAL_FAILURE(openSettings(kDualShockRows));
    ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
    UIColor colour = NBRColorForHexString("00ffff");
    QImage shot;
    PickerOnScreen picker = waitForPicker(colour, &shot);
    ASSERT_EQ(picker.problem, "") << "390x720 on opening";

    for (const QSize size : {QSize(800, 600), QSize(390, 720), QSize(320, 500)}) {
        const std::string name = std::to_string(size.width()) + "x" + std::to_string(size.height());
        ASSERT_NO_FATAL_FAILURE(resize(size));
        picker = waitForPicker(colour, &shot);
        saveShot(shot, "led-color-resized-" + name);
        ASSERT_EQ(picker.problem, "") << name;
        EXPECT_EQ(picker.columns, size.width() / kTile) << name;

        // A tile a third of the way across and down, away from the cursor: the colour it shows
        // is what the file gets.
        const int column = picker.columns / 3;
        int row = picker.rows / 3;
        if (std::abs(row - picker.tileOf(colour).second) < 3 &&
            std::abs(column - picker.tileOf(colour).first) < 3)
            row += 3;
        const QPoint at = picker.tileCentre(column, row);
        const QColor shown(shot.pixel(at));
        ASSERT_TRUE(nearColour(shown, toScreen(picker.tileColour(column, row)), 3)) << name;
        display_.click(at);
        display_.moveTo({size.width() + 20, 5});
        std::string stored;
        spinUntil(
            [&] {
                stored = storedColour();
                return !stored.empty() && nearColour(colourFromHex(stored), shown, 1);
            },
            3s);
        EXPECT_TRUE(nearColour(colourFromHex(stored), shown, 1))
            << name << ": stored " << stored << " for a click on " << shown.name().toStdString();
        colour = NBRColorForHexString(stored.c_str());
        picker = waitForPicker(colour, &shot);
        EXPECT_EQ(picker.problem, "") << name << " after the click";
    }

    // Reopened on a colour that hue, saturation and brightness would put a step off, the caption
    // reads as it did right after the click that stored it.
    int column = -1, row = -1;
    for (int r = 0; r < picker.rows && column < 0; ++r)
        for (int c = 0; c < picker.columns && column < 0; ++c)
            if (driftsThroughHsb(NBRStringColorForUIColor(picker.tileColour(c, r))))
                column = c, row = r;
    ASSERT_GE(column, 0) << "no tile of the map drifts";
    display_.click(picker.tileCentre(column, row));
    display_.moveTo({window_.width() + 20, 5});
    const QColor wanted(shot.pixel(picker.tileCentre(column, row)));
    std::string stored;
    ASSERT_TRUE(spinUntil(
        [&] {
            stored = storedColour();
            return !stored.empty() && nearColour(colourFromHex(stored), wanted, 1);
        },
        3s))
        << stored;
    colour = NBRColorForHexString(stored.c_str());
    picker = waitForPicker(colour, &shot);
    ASSERT_EQ(picker.problem, "") << "after picking " << stored;
    const QRect caption(picker.swatch.left(), picker.swatch.bottom() + 1, picker.swatch.width(),
                        18);
    const QImage picked = shot.copy(caption);
    back();
    // The page back, "Choose LED Color" in sight (the window may be too short for the rest).
    ASSERT_TRUE(display_.waitFor(
        [&](const QImage &s) { return rowsOn(s).size() > kChooseLEDColorRow; }, 10s));
    ASSERT_NO_FATAL_FAILURE(tapRow(kChooseLEDColorRow));
    picker = waitForPicker(colour, &shot);
    saveShot(shot, "led-color-reopened");
    ASSERT_EQ(picker.problem, "") << "reopened on " << stored;
    EXPECT_TRUE(shot.copy(caption) == picked) << "the caption of " << stored << " changed";
    EXPECT_EQ(storedColour(), stored);
}

} // namespace
