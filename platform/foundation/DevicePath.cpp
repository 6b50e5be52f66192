#include "DevicePath.h"

#include <cstdlib>

namespace platform {

std::string devicePath(std::string_view path) {
    // Read on every call: tests and the demo switch roots within one process.
    const char *root = std::getenv("NIMBREL_ROOT");
    if (root == nullptr || *root == '\0' || path.empty() || path.front() != '/')
        return std::string(path);
    std::string_view base(root);
    while (base.size() > 1 && base.back() == '/')
        base.remove_suffix(1);
    std::string mapped(base);
    mapped += path;
    return mapped;
}

} // namespace platform
