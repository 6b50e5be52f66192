#include "ScopedEnvironment.h"

#include <cstdlib>

namespace platform::testing {
namespace {

void put(const std::string &name, const std::optional<std::string> &value) {
    if (value)
        ::setenv(name.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name.c_str());
}

} // namespace

void ScopedEnvironment::set(const char *name, const std::optional<std::string> &value) {
    const char *old = std::getenv(name);
    saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    put(name, value);
}

void ScopedEnvironment::restore() {
    for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved)
        put(saved->name, saved->previous);
    saved_.clear();
}

} // namespace platform::testing
