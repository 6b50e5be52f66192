// One colour reported by the chooser, as the page takes it: stored (with its notification), the
// row's swatch redrawn and the colour sent to a connected DualShock 4 on a connection of its
// own. Against the store alone in the same run, which an atomic rewrite of the preferences file
// makes the dear part: the redraw and the send should add at most half of it.
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "PlistValue.h"
#include "RatioReporter.h"
#include "TestDeviceRoot.h"
#include "UINavigationController.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {

struct Setting {
    platform::testing::TestDeviceRoot root;
    std::unique_ptr<platform::testing::ChildProcess> daemon;
    NimbrelListController *page = nullptr;
    UINavigationController *navigation = nullptr;

    bool start() {
        platform::writePlistAtomically(root.path(NBRPreferencesPath),
                                       platform::PlistValue(platform::PlistValue::Dictionary{
                                           {NBRControllerTypeKey, 1}, {NBRLEDColorKey, "ff8000"}}),
                                       platform::PlistFormat::Binary);
        daemon = std::make_unique<platform::testing::ChildProcess>(
            CONTROLLERD_PATH, std::vector<std::string>{"--connected", "1", "--log", "/dev/null"});
        if (!daemon->waitForLine("ready"))
            return false;
        page = new NimbrelListController;
        page->setBundle(NSBundle::bundleWithPath(NBR_BUNDLE_DIR));
        navigation = new UINavigationController(page);
        navigation->view()->resize(390, 720);
        navigation->viewWillAppear(false);
        navigation->view()->show();
        navigation->viewDidAppear(false);
        QCoreApplication::processEvents();
        return page->ds4ColorChooser()->cellObject() != nullptr;
    }
};

Setting &setting() {
    static Setting *shared = [] {
        auto *made = new Setting;
        if (!made->start()) {
            std::fprintf(stderr, "the daemon did not start or the page shows no colour row\n");
            std::abort();
        }
        return made;
    }();
    return *shared;
}

void BM_ColorStoreOnly(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    int step = 0;
    for (auto _ : state) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%02x8000", ++step % 256);
        page->setPreferenceValue(QString(hex), page->ds4ColorChooser().get());
    }
}
BENCHMARK(BM_ColorStoreOnly)->UseRealTime()->Repetitions(3);

void BM_ColorSendOnly(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    for (auto _ : state)
        page->updateDS4ColorWithSocket(-1);
}
BENCHMARK(BM_ColorSendOnly)->UseRealTime()->Repetitions(3);

void BM_ColorPickReport(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    int step = 0;
    for (auto _ : state) {
        const double red = (++step % 256) / 255.0; // a new value each time
        page->colorPickerDidPickColor(nullptr, platform::UIColor::colorWithRed(red, 0.5, 0, 1));
    }
}
BENCHMARK(BM_ColorPickReport)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return runWithRatios(argc, argv, {{"BM_ColorPickReport", "BM_ColorStoreOnly", 1.5}});
}
