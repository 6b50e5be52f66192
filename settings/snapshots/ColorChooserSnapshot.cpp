// Opens the settings page of the device root's Nimbrel.bundle in a 390 × 720 window, taps
// "Choose LED Color", waits until the colour map is drawn and writes the window as a PNG:
//
//   nbr-colorchooser-snapshot OUT.png
//
// The page reads the bundle's page description and the root's preferences: the stored
// controller type must be 1 with the ambient colour off, or there is no row to tap.
#include "DevicePath.h"
#include "NBRColorPickerController.h"
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "QVColorMapView.h"
#include "QVColorPickerView.h"
#include "ToolOptions.h"
#include "UINavigationController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <cstdio>

namespace {
const platform::ToolDescription kTool{
    "nbr-colorchooser-snapshot",
    "Draws the \"LED Color\" screen of the device root's Nimbrel.bundle into a PNG.",
    "nbr-colorchooser-snapshot OUT.png\n"};
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
    if (argc != 2)
        return platform::usageError(kTool, "");
    auto bundle = NSBundle::bundleWithPath(
        QString::fromStdString(platform::devicePath("/Library/PreferenceBundles/Nimbrel.bundle")));
    if (!bundle) {
        std::fprintf(stderr, "no Nimbrel.bundle in the device root\n");
        return 1;
    }
    auto *page = new NimbrelListController;
    page->setBundle(bundle);
    UINavigationController navigation(page);
    QWidget *window = navigation.view();
    window->resize(390, 720);
    navigation.viewWillAppear(false);
    window->show();
    navigation.viewDidAppear(false);

    PSSpecifierRef row = page->specifierForID(NBRLEDColorID);
    if (!row) {
        std::fprintf(stderr, "the page shows no \"Choose LED Color\" (type 1, ambient off?)\n");
        return 1;
    }
    page->tableCellTapped(row.get());
    auto *chooser = qobject_cast<NBRColorPickerController *>(navigation.topViewController());
    if (chooser == nullptr) {
        std::fprintf(stderr, "the row did not open the chooser\n");
        return 1;
    }
    // The map appears once it is laid out (at the first paint) and its images are rendered.
    QDeadlineTimer deadline(10000);
    auto mapShown = [&] {
        QVColorPickerView &picker = *chooser->colorPicker();
        return picker.hasColorMapView() &&
               static_cast<QVColorMapView &>(picker.colorMapView()).isShown();
    };
    while (!mapShown() && !deadline.hasExpired()) {
        window->repaint();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (!mapShown()) {
        std::fprintf(stderr, "the colour map was not drawn\n");
        return 1;
    }
    QCoreApplication::processEvents();
    if (!window->grab().save(QString::fromLocal8Bit(argv[1]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
