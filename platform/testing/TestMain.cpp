// Runs the tests of an executable on a session bus of their own.
#include "PrivateSessionBus.h"

#include <gtest/gtest.h>

int main(int argc, char **argv) {
    if (!platform::testing::listingTestsOnly(argc, argv))
        platform::testing::usePrivateSessionBus();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
