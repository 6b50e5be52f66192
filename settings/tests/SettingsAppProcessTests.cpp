// The whole system as processes: the Settings app stand-in with the bundle starts the pairing
// tool against the BTstack simulator, and talks to the controller daemon stand-in.
#include "ChildProcess.h"
#include "ControllerDaemonProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "SettingsAppHarness.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using platform::PlistValue;
using platform::testing::ChildProcess;
using platform::testing::ControllerDaemonProcess;
using platform::testing::spinUntil;

namespace {

class SettingsApp : public SettingsAppHarness {
protected:
    void SetUp() override {
        std::filesystem::create_directories(root_.path("/usr/bin"));
        std::filesystem::create_symlink(TOOL_PATH, root_.path(NBRDiscoveryToolPath));
    }
};

TEST_F(SettingsApp, PairsFromThePairButtonAndInterruptsTheToolOnSuccess) {
    ChildProcess unlocker(MESSAGINGUTIL_PATH, {"-u", NBRMessagingCenterName});
    ASSERT_TRUE(unlocker.waitForLine("ready"));
    ChildProcess simulator(SIMULATOR_PATH, {"--inquiry-unit", "100", "--device",
                                            "address=1C:66:6D:01:02:03,class=0x040508,pin=7391"});
    ASSERT_TRUE(simulator.waitForLine("ready"));
    seed({{NBRControllerTypeKey, 1}});
    ChildProcess settings(PREFERENCES_PATH, {"--open", "Nimbrel", "--tap", NBRPairSpecifierID});
    ASSERT_TRUE(settings.waitForLine("ready")) << settings.output();
    ASSERT_TRUE(simulator.waitForLine(
        "command client=1 hci_pin_code_request_reply address=1C:66:6D:01:02:03 pin_length=4 "
        "pin=7391",
        20s));
    // The page heard of the pairing and interrupted the tool, which then left BTstack.
    EXPECT_TRUE(simulator.waitForLine("disconnected client=1", 20s)) << simulator.output();
    EXPECT_TRUE(settings.running());
    auto file = root_.readPlist(NBRPreferencesPath);
    ASSERT_TRUE(file && file->count(NBRBluetoothAddressKey));
    EXPECT_EQ(*file->at(NBRBluetoothAddressKey).data(),
              (PlistValue::Data{0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03}));
    EXPECT_EQ(settings.stop(SIGTERM), 0);
}

TEST_F(SettingsApp, ConnectsTheControllerThroughTheDaemon) {
    ControllerDaemonProcess daemon;
    ASSERT_TRUE(daemon.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"),
                             {"--connect-delay", "20"}));
    seed({{NBRControllerTypeKey, 1},
          {NBRConnectionModeKey, 1},
          {NBRBluetoothAddressKey, PlistValue::Data{0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03}},
          {NBRLEDColorKey, "abcdef"}});
    ChildProcess settings(PREFERENCES_PATH, {"--open", "Nimbrel", "--tap", NBRConnectID});
    ASSERT_TRUE(settings.waitForLine("ready")) << settings.output();
    spinUntil(
        [&] {
            settings.waitForLine("never", 20ms); // a pause that also keeps reading its output
            return daemon.log().find("light bar abcdef shown") != std::string::npos;
        },
        4s);
    const std::string text = daemon.log();
    EXPECT_NE(text.find("recv=20 hex=0100000001000000000000001c666d0102030000 connect type=1"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("recv=16 hex=040000000100000000000000abcdef00 set-light-color type=1"),
              std::string::npos)
        << text;
    EXPECT_EQ(settings.stop(SIGTERM), 0);
}

} // namespace
