#include "TestDeviceRoot.h"

#include <cstdlib>
#include <filesystem>
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
    if (const char *old = std::getenv("NIMBREL_ROOT")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("NIMBREL_ROOT", root_.c_str(), 1);
}

TestDeviceRoot::~TestDeviceRoot() {
    if (hadPrevious_)
        ::setenv("NIMBREL_ROOT", previous_.c_str(), 1);
    else
        ::unsetenv("NIMBREL_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string TestDeviceRoot::path(std::string_view devicePath) const {
    return root_ + std::string(devicePath);
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

} // namespace platform::testing
