// Lays out a colour picker, waits for its map, and writes what it shows as a PNG.
#include "QVColorMapView.h"
#include "QVColorPickerView.h"
#include "ToolOptions.h"
#include "UIScreen.h"
#include "UIViewHost.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {
// Six hex digits, red, green, blue; anything else is the default light-bar blue.
platform::UIColor colorFromHex(const char *hex) {
    char *end = nullptr;
    const unsigned long value = std::strtoul(hex, &end, 16);
    if (!end || *end || end - hex != 6)
        return colorFromHex("004EFD");
    return platform::UIColor::colorWithRed(
        ((value >> 16) & 0xff) / 255.0, ((value >> 8) & 0xff) / 255.0, (value & 0xff) / 255.0, 1.0);
}
} // namespace

namespace {
const platform::ToolDescription kTool{
    "nbr-colorpicker-snapshot",
    "Draws a colour picker of WIDTH x HEIGHT points at SCALE, set to HEX, into a PNG.",
    "nbr-colorpicker-snapshot OUT.png [WIDTH HEIGHT [SCALE [HEX]]]\n"};
} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-')
            return platform::usageError(kTool, std::string("unknown option ") + argv[i]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2 || argc > 6)
        return platform::usageError(kTool, "");
    const double width = argc > 3 ? std::atof(argv[2]) : 320;
    const double height = argc > 3 ? std::atof(argv[3]) : 504;
    const double scale = argc > 4 ? std::atof(argv[4]) : 2;
    const char *hex = argc > 5 ? argv[5] : "004EFD";
    if (!(width > 0 && width <= 4096 && height > 0 && height <= 4096 && scale > 0 && scale <= 4)) {
        std::fprintf(stderr, "size or scale out of range\n");
        return 2;
    }
    UIScreen::mainScreen().setScale(scale);

    auto picker = std::make_shared<QVColorPickerView>(CGRectMake(0, 0, width, height));
    picker->setColor(colorFromHex(hex));
    picker->layoutIfNeeded();

    auto &map = static_cast<QVColorMapView &>(picker->colorMapView());
    QElapsedTimer timer;
    timer.start();
    while (!map.isShown() && timer.elapsed() < 10000)
        QCoreApplication::processEvents();
    if (!map.isShown()) {
        std::fprintf(stderr, "the map was not rendered\n");
        return 1;
    }
    const QImage image = UIViewHost::snapshot(*picker, scale);
    if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
