#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::testing {

// Environment variables set for this process and the processes it starts, put back as they were
// (in the reverse order) by restore() or at the end. Holding one makes a fixture uncopyable.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment() { restore(); }
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;

    // Sets `name` to `value`, or removes it for nullopt.
    void set(const char *name, const std::optional<std::string> &value);
    void restore();

private:
    struct Saved {
        std::string name;
        std::optional<std::string> previous;
    };
    std::vector<Saved> saved_;
};

} // namespace platform::testing
