// Runs the tests of an executable inside a QCoreApplication, on a session bus of their own.
#include "PrivateSessionBus.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    if (!platform::testing::listingTestsOnly(argc, argv))
        platform::testing::usePrivateSessionBus();
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
