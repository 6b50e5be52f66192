#pragma once

#include <chrono>

// How much longer than usual a test may wait for what it expects. Fixed by the build, not by
// the environment: the slowdown belongs to the code a build makes (the sanitizer build raises
// it), so a test binary keeps its deadlines however it is started, by CTest, a debugger or
// by hand.
#ifndef NBR_TEST_TIME_SCALE
#define NBR_TEST_TIME_SCALE 1
#endif

namespace platform::testing {

inline constexpr int kTimeScale = NBR_TEST_TIME_SCALE;
static_assert(kTimeScale >= 1, "a deadline is never shortened");

// A deadline or upper bound, stretched by the build's slowdown. Not for the lower bounds a test
// proves a behaviour with (a minimum spacing, a delay that must pass first): those stay as
// they are.
constexpr std::chrono::milliseconds scaled(std::chrono::milliseconds deadline) {
    return deadline * kTimeScale;
}

} // namespace platform::testing
