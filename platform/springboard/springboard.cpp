// springboard [--without-class NAME]... [--front-most SELECTOR[=IDENTIFIER]]...
//
// Loads every plug-in in /Library/MobileSubstrate/DynamicLibraries/ under the device root, then
// prints "ready" and runs until SIGINT/SIGTERM. --without-class leaves a class out of the
// runtime (to see a plug-in cope); --front-most puts an application in front that answers
// SELECTOR with IDENTIFIER (or with none). Tests change the front-most application through
// platform.springboard.Control on the session bus.
#include "SpringBoard.h"
#include "DevicePath.h"
#include "ObjCRuntime.h"
#include "SBBulletinBannerController.h"
#include "SpringBoardControl.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char *kPluginFolder = "/Library/MobileSubstrate/DynamicLibraries/";
constexpr const char *kControlService = "platform.springboard";
constexpr const char *kControlPath = "/SpringBoard";

int usage() {
    std::fprintf(stderr, "usage: springboard [--without-class NAME]... "
                         "[--front-most SELECTOR[=IDENTIFIER]]...\n");
    return 2;
}

// In name order, so that a run loads them the same way each time.
void loadPlugins() {
    std::error_code error;
    std::vector<std::filesystem::path> plugins;
    for (const auto &entry :
         std::filesystem::directory_iterator(platform::devicePath(kPluginFolder), error))
        if (entry.path().extension() == ".dylib")
            plugins.push_back(entry.path());
    std::sort(plugins.begin(), plugins.end());
    for (const auto &plugin : plugins)
        if (dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL) == nullptr)
            std::fprintf(stderr, "springboard: cannot load %s: %s\n", plugin.c_str(), dlerror());
}

} // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    std::set<std::string> withheld;
    SBApplication::Answers frontMost;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc)
            return usage();
        const std::string value = argv[++i];
        if (std::strcmp(argv[i - 1], "--without-class") == 0) {
            withheld.insert(value);
        } else if (std::strcmp(argv[i - 1], "--front-most") == 0) {
            const std::size_t equals = value.find('=');
            if (equals == std::string::npos)
                frontMost[value] = std::nullopt;
            else
                frontMost[value.substr(0, equals)] = value.substr(equals + 1);
        } else {
            return usage();
        }
    }
    if (!withheld.count("SBBulletinBannerController"))
        objc_registerClass("SBBulletinBannerController",
                           &SBBulletinBannerController::classObject());
    if (!frontMost.empty())
        UIApp->setFrontMostApplication(std::make_shared<SBApplication>(frontMost));

    SpringBoardControl control;
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address != nullptr && *address != '\0') {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.registerService(kControlService)) {
            std::fprintf(stderr, "springboard: another instance is running on this bus\n");
            return 1;
        }
        bus.registerObject(kControlPath, &control, QDBusConnection::ExportAllSlots);
    }

    loadPlugins();
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
