// Every process of the typical run started without a session bus: those that need the bus say so
// and end with status 1; the others do their work, lose nothing and end cleanly.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using platform::testing::ChildProcess;
using platform::testing::spinUntil;
using namespace std::chrono_literals;

namespace {

class NoSessionBus : public ::testing::Test {
protected:
    void SetUp() override {
        const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        saved_ = address != nullptr ? address : "";
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    void TearDown() override {
        if (!saved_.empty())
            ::setenv("DBUS_SESSION_BUS_ADDRESS", saved_.c_str(), 1);
    }
    platform::testing::TestDeviceRoot root_;
    std::string saved_;
};

TEST_F(NoSessionBus, WhatNeedsTheBusRefusesWithStatusOne) {
    for (const auto &[program, arguments] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {RECORDER_PATH, {}},
             {NOTIFYUTIL_PATH, {"-w", NBRPreferencesChangedNotification}},
             {NOTIFYUTIL_PATH, {"-p", NBRPreferencesChangedNotification}},
             {MESSAGINGUTIL_PATH, {"-s", NBRMessagingCenterName, NBRDiscoveryUpdateMessage}},
             {MESSAGINGUTIL_PATH, {"-u", NBRMessagingCenterName}}}) {
        ChildProcess process(program, arguments);
        EXPECT_EQ(process.wait(10s), 1) << program;
        EXPECT_EQ(process.output().find("ready"), std::string::npos) << program;
    }
}

TEST_F(NoSessionBus, TheDeliverablesAndDaemonsWorkOnAndEndCleanly) {
    root_.addPreferenceBundle(BUNDLE_DIR);
    root_.addSpringBoardPlugin(PLUGIN_PATH);

    ChildProcess springboard(SPRINGBOARD_PATH, {});
    ChildProcess daemon(CONTROLLERD_PATH, {});
    ChildProcess simulator(SIMULATOR_PATH,
                           {"--device", "address=1C:66:6D:01:02:03,class=0x002508,pin=5820"});
    ASSERT_TRUE(springboard.waitForLine("ready"));
    ASSERT_TRUE(daemon.waitForLine("ready"));
    ASSERT_TRUE(simulator.waitForLine("ready"));

    // The pairing tool has nobody to report to, yet it pairs and keeps the address.
    ChildProcess tool(TOOL_PATH, {});
    spinUntil([&] { return root_.readPlist(NBRPreferencesPath).has_value(); });
    auto stored = root_.readPlist(NBRPreferencesPath);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at(NBRBluetoothAddressKey),
              platform::PlistValue(platform::PlistValue::Data{0x1c, 0x66, 0x6d, 1, 2, 3}));
    EXPECT_EQ(tool.stop(SIGINT, 10s), 0);

    // The Settings app stores a switch; only the change notification has nowhere to go.
    ChildProcess settings(PREFERENCES_PATH,
                          {"--open", "Nimbrel", "--tap", "suppress_notification"});
    ASSERT_TRUE(settings.waitForLine("ready"));
    stored = root_.readPlist(NBRPreferencesPath);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at(NBRSuppressNotificationKey).boolean(), true);
    EXPECT_EQ(stored->count(NBRBluetoothAddressKey), 1u) << "the address is kept";

    EXPECT_EQ(settings.stop(SIGTERM), 0);
    EXPECT_EQ(simulator.stop(SIGTERM), 0);
    EXPECT_EQ(daemon.stop(SIGTERM), 0);
    EXPECT_EQ(springboard.stop(SIGTERM), 0);
}

} // namespace
