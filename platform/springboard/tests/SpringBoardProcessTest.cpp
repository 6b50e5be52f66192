#include "ChildProcess.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using platform::testing::ChildProcess;

TEST(SpringBoardProcess, LoadsEveryPluginItCanAndSkipsWhatIsNotOne) {
    platform::testing::PrivateSessionBus bus;
    platform::testing::TestDeviceRoot root;
    const std::string folder = root.path("/Library/MobileSubstrate/DynamicLibraries/");
    std::filesystem::copy_file(PROBE_PLUGIN_PATH, folder + "A.dylib");
    std::filesystem::copy_file(PROBE_PLUGIN_PATH, folder + "C.dylib");
    std::ofstream(folder + "B.dylib") << "not a library";
    std::filesystem::copy_file(PROBE_PLUGIN_PATH, folder + "D.plist"); // not a plug-in name
    const std::string log = root.path("/tmp/probe.log");
    ::setenv("PROBE_PLUGIN_LOG", log.c_str(), 1);

    ChildProcess springBoard(SPRINGBOARD_PATH, {});
    ASSERT_TRUE(springBoard.waitForLine("ready"));
    EXPECT_EQ(platform::testing::readFile(log), "loaded\nloaded\n");

    // One stand-in per bus: a second one refuses instead of fighting over the name.
    ChildProcess second(SPRINGBOARD_PATH, {});
    EXPECT_EQ(second.wait(std::chrono::seconds(10)), 1);
    EXPECT_EQ(springBoard.stop(SIGINT), 0);
    ::unsetenv("PROBE_PLUGIN_LOG");
}

TEST(SpringBoardProcess, RunsWithoutABusOrAPluginFolder) {
    platform::testing::TestDeviceRoot root;
    std::filesystem::remove_all(root.path("/Library/MobileSubstrate"));
    const std::string address =
        std::getenv("DBUS_SESSION_BUS_ADDRESS") ? std::getenv("DBUS_SESSION_BUS_ADDRESS") : "";
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ChildProcess springBoard(SPRINGBOARD_PATH, {});
    if (!address.empty())
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    ASSERT_TRUE(springBoard.waitForLine("ready"));
    EXPECT_EQ(springBoard.stop(SIGTERM), 0);
}

TEST(SpringBoardProcess, RefusesArgumentsItDoesNotKnow) {
    ChildProcess springBoard(SPRINGBOARD_PATH, {"--front-most"});
    EXPECT_EQ(springBoard.wait(std::chrono::seconds(10)), 2);
    ChildProcess other(SPRINGBOARD_PATH, {"--bogus", "x"});
    EXPECT_EQ(other.wait(std::chrono::seconds(10)), 2);
}
