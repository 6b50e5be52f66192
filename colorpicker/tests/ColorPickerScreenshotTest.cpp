#include "ChildProcess.h"

#include <QColor>
#include <QImage>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

// Reads the screenshot the snapshot tool wrote for a 320 × 504 picker at scale 2.
QImage shoot(const std::string &path, const std::string &hex) {
    platform::testing::ChildProcess tool(SNAPSHOT_TOOL, {path, "320", "504", "2", hex});
    EXPECT_EQ(tool.wait(std::chrono::seconds(60)), 0);
    return QImage(QString::fromStdString(path));
}

} // namespace

TEST(ColorPickerScreenshot, LooksLikeAColourPicker) {
    const QImage image = shoot(SCREENSHOT_DIR "/colorpicker-320x504.png", "004EFD");
    ASSERT_EQ(image.size(), QSize(640, 1008));
    auto at = [&](double x, double y) { return image.pixelColor(int(x * 2), int(y * 2)); };

    // Hue across the map's top row: red, then yellow-green, cyan, blue, magenta.
    // (The map is shown at the colour's brightness, 253/255.)
    auto near = [](QColor c, int r, int g, int b) {
        return std::abs(c.red() - r) <= 4 && std::abs(c.green() - g) <= 4 &&
               std::abs(c.blue() - b) <= 4;
    };
    EXPECT_TRUE(near(at(8, 112), 253, 0, 0));
    EXPECT_TRUE(near(at(160 + 8, 112), 0, 253, 253));
    EXPECT_GT(at(240 + 8, 112).blue(), 200);
    EXPECT_LT(at(240 + 8, 112).green(), 60);
    // Saturation down a column: the bottom is nearly white at full brightness.
    const QColor bottom = at(8, 500);
    EXPECT_EQ(bottom.red(), at(8, 112).red());
    EXPECT_GT(bottom.green(), 200);
    // The swatch is the colour; its caption is gray text on white below it.
    EXPECT_EQ(at(40, 40), QColor(0, 0x4e, 0xfd));
    int captionInk = 0;
    for (int x = 10; x < 72; ++x)
        for (int y = 78; y < 92; ++y)
            captionInk += at(x, y).lightness() < 200 ? 1 : 0;
    EXPECT_GT(captionInk, 20);
    // The slider's track runs from the colour at full brightness to a darker one, with the
    // knob's ring on its left end.
    EXPECT_GT(at(300, 70).blue(), 60);
    EXPECT_LT(at(300, 70).blue(), at(150, 70).blue());
    const QColor knobRing = at(83, 70);
    EXPECT_GT(knobRing.lightness(), 180);
    EXPECT_EQ(at(94, 70), QColor(0, 0x4e, 0xfd));
}

TEST(ColorPickerScreenshot, ToolRejectsNonsenseSizes) {
    platform::testing::ChildProcess tool(SNAPSHOT_TOOL, {"/tmp/nbr-never.png", "0", "-5"});
    EXPECT_EQ(tool.wait(std::chrono::seconds(30)), 2);
}
