#include "TestDeviceRoot.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

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

} // namespace platform::testing
