#include "ObjCRuntime.h"

#include <map>
#include <mutex>
#include <string>

namespace {

std::mutex g_mutex;

std::map<std::string, Class> &classes() {
    static std::map<std::string, Class> registry;
    return registry;
}

} // namespace

Class objc_getClass(const char *name) {
    if (name == nullptr)
        return nullptr;
    std::lock_guard lock(g_mutex);
    auto it = classes().find(name);
    return it == classes().end() ? nullptr : it->second;
}

void objc_registerClass(const char *name, Class cls) {
    std::lock_guard lock(g_mutex);
    classes()[name] = cls;
}

void objc_unregisterClass(const char *name) {
    std::lock_guard lock(g_mutex);
    classes().erase(name);
}
