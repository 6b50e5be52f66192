// Preloaded after umockdev's into a process that meets ControllerSysfs: glibc's scandir(3) opens
// its folder inside libc, where umockdev's preload cannot send it into the tree, and libevdev
// finds the event node of a device made through /dev/uinput with it.
#include <dirent.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Scandir = int (*)(const char *, dirent ***, int (*)(const dirent *),
                        int (*)(const dirent **, const dirent **));

// Under the tree when umockdev's preload would send it there: /sys always.
std::string inTree(const char *path) {
    const char *root = std::getenv("UMOCKDEV_DIR");
    if (root == nullptr || path == nullptr || std::strncmp(path, "/sys", 4) != 0 ||
        (path[4] != '/' && path[4] != '\0'))
        return path ? path : "";
    return std::string(root) + path;
}

} // namespace

extern "C" int scandir(const char *__restrict path, dirent ***__restrict list,
                       int (*keep)(const dirent *),
                       int (*order)(const dirent **, const dirent **)) {
    static const auto real = reinterpret_cast<Scandir>(dlsym(RTLD_NEXT, "scandir"));
    return real(inTree(path).c_str(), list, keep, order);
}

extern "C" int scandir64(const char *__restrict path, dirent64 ***__restrict list,
                         int (*keep)(const dirent64 *),
                         int (*order)(const dirent64 **, const dirent64 **)) {
    using Scandir64 = int (*)(const char *, dirent64 ***, int (*)(const dirent64 *),
                              int (*)(const dirent64 **, const dirent64 **));
    static const auto real = reinterpret_cast<Scandir64>(dlsym(RTLD_NEXT, "scandir64"));
    return real(inTree(path).c_str(), list, keep, order);
}
