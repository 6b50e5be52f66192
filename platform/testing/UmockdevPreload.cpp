#include "UmockdevPreload.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace platform::testing {

bool umockdevPreloadActive() {
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

bool runUnderUmockdevPreload() {
    if (umockdevPreloadActive())
        return false;
    if (std::getenv("NBR_UMOCKDEV_REEXEC")) {
        std::fprintf(stderr, "libumockdev-preload did not load: install umockdev\n");
        std::_Exit(1);
    }
    std::vector<std::string> arguments;
    {
        std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
        std::string argument;
        while (std::getline(cmdline, argument, '\0'))
            arguments.push_back(argument);
    }
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || arguments.empty()) {
        std::fprintf(stderr, "cannot find this executable to run it under umockdev-wrapper\n");
        std::_Exit(1);
    }
    self[length] = '\0';
    ::setenv("NBR_UMOCKDEV_REEXEC", "1", 1);
    // The preload comes before the sanitizer runtime, which then must not insist on being first.
    const std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    ::setenv("ASAN_OPTIONS",
             (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
    std::vector<char *> argv;
    std::string wrapper = "umockdev-wrapper";
    argv.push_back(wrapper.data());
    argv.push_back(self);
    for (std::size_t i = 1; i < arguments.size(); ++i)
        argv.push_back(arguments[i].data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "umockdev-wrapper: %s (install umockdev; scripts/setup.sh does)\n",
                 std::strerror(errno));
    std::_Exit(1);
}

} // namespace platform::testing
