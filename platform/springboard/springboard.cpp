// springboard [--without-class NAME]... [--front-most SELECTOR[=IDENTIFIER]]...
//
// Knows the applications of /Applications/ and loads every plug-in in
// /Library/MobileSubstrate/DynamicLibraries/ under the device root, then
// prints "ready" and runs until SIGINT/SIGTERM. --without-class leaves a class out of the
// runtime (to see a plug-in cope); --front-most puts an application in front that answers
// SELECTOR with IDENTIFIER (or with none). Tests change the front-most application through
// platform.springboard.Control on the session bus.
#include "SpringBoard.h"
#include "DevicePath.h"
#include "ObjCRuntime.h"
#include "PlistValue.h"
#include "SBBulletinBannerController.h"
#include "SpringBoardControl.h"
#include "ToolOptions.h"
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
constexpr const char *kApplicationsFolder = "/Applications/";
constexpr const char *kControlService = "platform.springboard";
constexpr const char *kControlPath = "/SpringBoard";

const platform::ToolDescription kTool{
    "springboard",
    "The SpringBoard stand-in: loads the plug-ins of \"/Library/MobileSubstrate/"
    "DynamicLibraries\" under NIMBREL_ROOT and shows their bulletins as desktop notifications.",
    "springboard [--without-class NAME]... [--front-most SELECTOR[=IDENTIFIER]]...\n",
    "  --without-class NAME   leave the class NAME out of the runtime\n"
    "  --front-most SELECTOR[=IDENTIFIER]\n"
    "                         an application in front that answers SELECTOR\n"
    "                         (displayIdentifier, bundleIdentifier) with IDENTIFIER, or none\n"};

int usage(const std::string &problem = {}) {
    return platform::usageError(kTool, problem);
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

// The applications of "/Applications", as the home screen shows them: each *.app folder's
// Info.plist gives the bundle identifier, the name (display name, else bundle name) and the
// icon file inside the folder. A folder without an identifier and a name is passed over.
void loadInstalledApplications() {
    std::error_code error;
    for (const auto &entry :
         std::filesystem::directory_iterator(platform::devicePath(kApplicationsFolder), error)) {
        if (entry.path().extension() != ".app")
            continue;
        const auto info = platform::readPlistDictionary(entry.path() / "Info.plist");
        if (!info)
            continue;
        const auto text = [&](const char *key) {
            auto it = info->find(key);
            const std::string *value = it == info->end() ? nullptr : it->second.string();
            return value ? *value : std::string();
        };
        const std::string identifier = text("CFBundleIdentifier");
        std::string name = text("CFBundleDisplayName");
        if (name.empty())
            name = text("CFBundleName");
        if (identifier.empty() || name.empty())
            continue;
        std::string icon;
        if (const std::string file = text("CFBundleIconFile"); !file.empty()) {
            const auto path = entry.path() / file;
            if (std::filesystem::is_regular_file(path, error))
                icon = path.string();
        }
        UIApp->setInstalledApplication(identifier, {name, icon});
    }
}

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    QCoreApplication app(argc, argv);
    std::set<std::string> withheld;
    SBApplication::Answers frontMost;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option != "--without-class" && option != "--front-most")
            return usage("unknown option " + option);
        if (i + 1 >= argc)
            return usage(option + " needs a value");
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

    loadInstalledApplications();
    loadPlugins();
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
