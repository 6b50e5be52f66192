#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property of the code under test: reported and aborted, so libFuzzer keeps the input.
#define NBR_FUZZ_CHECK(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)
