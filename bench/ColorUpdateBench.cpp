// A light-bar colour update as a colour pick sends it (its own connection: connect, one send,
// close, on the calling thread, nothing read back) next to a bare connect and close of the same
// socket in the same run.
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "PlistValue.h"
#include "RatioReporter.h"
#include "TestDeviceRoot.h"

#include <QApplication>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Setting {
    platform::testing::TestDeviceRoot root;
    std::unique_ptr<platform::testing::ChildProcess> daemon;
    NimbrelListController *page = nullptr;

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
        page->specifiers();
        return true;
    }
};

Setting &setting() {
    static Setting *shared = [] {
        auto *made = new Setting;
        if (!made->start()) {
            std::fprintf(stderr, "the controller daemon did not start\n");
            std::abort();
        }
        return made;
    }();
    return *shared;
}

void BM_RawConnect(benchmark::State &state) {
    setting();
    for (auto _ : state) {
        const int fd = NBRConnectToControlSocket();
        if (fd < 0) {
            state.SkipWithError("connect failed");
            break;
        }
        ::close(fd);
    }
}
BENCHMARK(BM_RawConnect)->UseRealTime()->Repetitions(3);

void BM_ColorUpdateOwnConnection(benchmark::State &state) {
    NimbrelListController *page = setting().page;
    for (auto _ : state)
        page->updateDS4ColorWithSocket(-1);
}
BENCHMARK(BM_ColorUpdateOwnConnection)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return runWithRatios(argc, argv, {{"BM_ColorUpdateOwnConnection", "BM_RawConnect", 3.0}});
}
