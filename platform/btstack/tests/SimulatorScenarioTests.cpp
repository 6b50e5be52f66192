#include "SimulatorScenario.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace platform::btstack;

TEST(SimulatorScenario, DeviceWithEveryFailureMode) {
    std::string error;
    auto device = parseVirtualDevice("address=00:11:22:33:44:55, class=0x002508, pin=5820, "
                                     "rssi=-40,name=Wireless Controller,delay=150,refuse=0x13,"
                                     "inquiries=2",
                                     error);
    ASSERT_TRUE(device) << error;
    EXPECT_EQ(formatAddress(device->address), "00:11:22:33:44:55");
    EXPECT_EQ(device->classOfDevice, 0x002508u);
    EXPECT_EQ(device->pin, "5820");
    EXPECT_EQ(device->rssi, -40);
    EXPECT_EQ(device->name, "Wireless Controller");
    EXPECT_EQ(device->delayMs, 150);
    EXPECT_EQ(device->refusedPsms, std::vector<std::uint16_t>{0x13});
    EXPECT_EQ(device->inquiries, 2);
}

TEST(SimulatorScenario, RefusesBadDevices) {
    std::string error;
    EXPECT_FALSE(parseVirtualDevice("class=0x002508", error));
    EXPECT_FALSE(parseVirtualDevice("address=00:11:22:33:44:55", error));
    EXPECT_FALSE(parseVirtualDevice("address=00:11:22:33:44:55,class=0x1000000", error));
    EXPECT_FALSE(parseVirtualDevice("address=00:11:22:33:44:55,class=1,rssi=-200", error));
    EXPECT_FALSE(parseVirtualDevice("address=00:11:22:33:44:55,class=1,colour=red", error));
    EXPECT_FALSE(
        parseVirtualDevice("address=00:11:22:33:44:55,class=1,pin=12345678901234567", error));
    EXPECT_NE(error, "");
}

TEST(SimulatorScenario, EveryOptionReachesItsField) {
    std::string error;
    auto scenario = SimulatorScenario::fromArguments(
        {"--address", "00:1b:dc:0f:e2:7a", "--power-on-delay", "1", "--command-delay", "2",
         "--inquiry-unit", "3", "--page-timeout", "4", "--pairing-timeout", "0x5",
         "--system-bluetooth-enabled", "yes", "--power-on-fails", "--group-responses",
         "--log-events"},
        error);
    ASSERT_TRUE(scenario) << error;
    EXPECT_EQ(formatAddress(scenario->localAddress), "00:1B:DC:0F:E2:7A");
    EXPECT_EQ(scenario->powerOnDelayMs, 1);
    EXPECT_EQ(scenario->commandDelayMs, 2);
    EXPECT_EQ(scenario->inquiryUnitMs, 3);
    EXPECT_EQ(scenario->pageTimeoutMs, 4);
    EXPECT_EQ(scenario->pairingTimeoutMs, 5);
    EXPECT_TRUE(scenario->systemBluetoothEnabled);
    EXPECT_TRUE(scenario->powerOnFails);
    EXPECT_TRUE(scenario->groupResponses);
    EXPECT_TRUE(scenario->logEvents);

    auto plain = SimulatorScenario::fromArguments({}, error);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->powerOnFails || plain->groupResponses || plain->logEvents);
    EXPECT_EQ(plain->pageTimeoutMs, 5120);
}

TEST(SimulatorScenario, BadOptionsAreNamed) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--page-timeout"}, "--page-timeout needs a value"},
        {{"--pairing-timeout", "600001"}, "bad --pairing-timeout: 600001"},
        {{"--device"}, "--device needs a value"},
        {{"--address", "00:1b:dc"}, "bad address: 00:1b:dc"},
        {{"--system-bluetooth-enabled", "maybe"}, "bad --system-bluetooth-enabled: maybe"},
        {{"--log-events", "--loud"}, "unknown option: --loud"},
    };
    for (const auto &[arguments, message] : cases) {
        std::string error;
        EXPECT_FALSE(SimulatorScenario::fromArguments(arguments, error)) << message;
        EXPECT_EQ(error, message);
    }
}

class ScenarioFile : public ::testing::Test {
protected:
    std::string path = "/tmp/nbr-scenario-" + std::to_string(::getpid());
    void write(const std::string &text) { std::ofstream(path) << text; }
    void TearDown() override { std::remove(path.c_str()); }
};

TEST_F(ScenarioFile, FileAndCommandLineCombine) {
    write("# two controllers and a slow radio\n"
          "device address=00:11:22:33:44:55,class=0x002508,name=Wireless Controller\n"
          "\n"
          "device address=00:11:22:33:44:66,class=0x000508  # no PIN\n"
          "power-on-delay 300\n"
          "command-delay 40\n"
          "power-on-fails\n"
          "group-responses\n");
    std::string error;
    auto scenario =
        SimulatorScenario::fromArguments({"--inquiry-unit", "10", "--scenario", path, "--device",
                                          "address=00:11:22:33:44:77,class=0x01F000"},
                                         error);
    ASSERT_TRUE(scenario) << error;
    ASSERT_EQ(scenario->devices.size(), 3u);
    EXPECT_EQ(scenario->devices[0].name, "Wireless Controller");
    EXPECT_EQ(scenario->devices[1].classOfDevice, 0x000508u);
    EXPECT_EQ(scenario->devices[2].classOfDevice, 0x01F000u);
    EXPECT_EQ(scenario->inquiryUnitMs, 10);
    EXPECT_EQ(scenario->powerOnDelayMs, 300);
    EXPECT_EQ(scenario->commandDelayMs, 40);
    EXPECT_TRUE(scenario->powerOnFails);
    EXPECT_TRUE(scenario->groupResponses);
}

TEST_F(ScenarioFile, BadInputIsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(SimulatorScenario::fromArguments({"--inquiry-unit"}, error));
    EXPECT_FALSE(SimulatorScenario::fromArguments({"--inquiry-unit", "-3"}, error));
    EXPECT_FALSE(SimulatorScenario::fromArguments({"--bogus"}, error));
    EXPECT_FALSE(SimulatorScenario::fromArguments({"--scenario", path + ".missing"}, error));
    write("scenario " + path + "\n");
    EXPECT_FALSE(SimulatorScenario::fromArguments({"--scenario", path}, error));
    EXPECT_NE(error.find("itself"), std::string::npos);
}

TEST(SimulatorScenario, TheShippedDualShock4ScenarioReads) {
    std::string error;
    const std::string folder = BTSTACK_SCENARIOS;
    auto scenario =
        SimulatorScenario::fromArguments({"--scenario", folder + "/dualshock4.txt"}, error);
    ASSERT_TRUE(scenario) << error;
    ASSERT_EQ(scenario->devices.size(), 2u);
    EXPECT_EQ(scenario->devices[1].classOfDevice, 0x002508u);
    EXPECT_EQ(scenario->devices[1].pin, "5820");
    EXPECT_EQ(scenario->devices[0].name, "Phone");
    EXPECT_EQ(scenario->powerOnDelayMs, 150);
}
