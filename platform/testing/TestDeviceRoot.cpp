#include "TestDeviceRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>

namespace platform::testing {

TestDeviceRoot::TestDeviceRoot() {
    char pattern[] = "/tmp/nbr.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("cannot create a device root");
    root_ = pattern;
    for (const char *folder :
         {"/var/mobile/Library/Preferences", "/tmp", "/usr/bin", "/Library/PreferenceBundles",
          "/Library/MobileSubstrate/DynamicLibraries"})
        std::filesystem::create_directories(root_ + folder);
    environment_.set("NIMBREL_ROOT", root_);
}

TestDeviceRoot::~TestDeviceRoot() {
    environment_.restore();
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TestDeviceRoot::path(std::string_view devicePath) const {
    return root_ + std::string(devicePath);
}

void TestDeviceRoot::addPreferenceBundle(const std::string &bundleDir) const {
    std::filesystem::create_directory_symlink(
        bundleDir,
        path("/Library/PreferenceBundles/") + std::filesystem::path(bundleDir).filename().string());
}

void TestDeviceRoot::addSpringBoardPlugin(const std::string &pluginPath) const {
    std::filesystem::copy_file(pluginPath,
                               path("/Library/MobileSubstrate/DynamicLibraries/") +
                                   std::filesystem::path(pluginPath).filename().string());
}

bool TestDeviceRoot::writePlist(std::string_view devicePath, PlistValue::Dictionary values,
                                PlistFormat format) const {
    return writePlistAtomically(path(devicePath), PlistValue(std::move(values)), format);
}

std::optional<PlistValue::Dictionary> TestDeviceRoot::readPlist(std::string_view devicePath) const {
    return readPlistDictionary(path(devicePath));
}

bool placeFifo(const std::string &path, bool throughLink) {
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    if (!throughLink)
        return ::mkfifo(path.c_str(), 0644) == 0;
    const std::string fifo = path + ".pipe";
    std::filesystem::remove(fifo, ignored);
    if (::mkfifo(fifo.c_str(), 0644) != 0)
        return false;
    std::filesystem::create_symlink(fifo, path, ignored);
    return !ignored;
}

std::string placeLinkToPlist(const std::string &path, PlistValue::Dictionary values,
                             PlistFormat format) {
    const std::string elsewhere = path + ".elsewhere";
    std::error_code failed;
    std::filesystem::remove(path, failed);
    if (!writePlistAtomically(elsewhere, PlistValue(std::move(values)), format))
        return {};
    std::filesystem::create_symlink(elsewhere, path, failed);
    return failed ? std::string() : elsewhere;
}

std::string readFile(const std::string &path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

int occurrences(const std::string &text, const std::string &part) {
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

} // namespace platform::testing
