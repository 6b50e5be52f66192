// nbrdiscovery as a real process against the BTstack simulator, on a bus of each test's own,
// with a listener on the messaging center as the settings page would run it.
#include "PairingToolRun.h"

#include <gmock/gmock.h>

using platform::testing::occurrences;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

using namespace pairing_tool_run;

TEST_F(Tool, PairsADualShock4ReportingEachStepAndShutsDownOnce) {
    startDaemon(SIMULATOR_PATH, {"--device", "address=" + kPad + ",class=0x002508,pin=5820"});
    unlock();
    listen(true);
    startTool();
    ASSERT_TRUE(waitForUpdates(5));
    auto seen = updates(listener->output());
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_THAT(seen, ElementsAre(Update{4, ""}, Update{0, ""}, Update{1, ""}, Update{2, kPadHex},
                                  Update{2, kPadHex}));
    // A fresh device: the file is made with the address that was reported.
    EXPECT_EQ(storedAddress(), kPadHex);

    // The settings page interrupts once per state-2 message.
    ASSERT_NO_FATAL_FAILURE(interruptAndWindDown([&] {
        ASSERT_TRUE(waitForUpdates(6));
        tool->signal(SIGINT);
    }));
    EXPECT_EQ(updates(listener->output()).back(), (Update{1, ""}));
    EXPECT_EQ(updates(listener->output()).size(), 6u);

    const std::string log = simulator->output();
    EXPECT_EQ(
        occurrences(log, "hci_pin_code_request_reply address=" + kPad + " pin_length=4 pin=5820"),
        1);
    EXPECT_EQ(occurrences(log, "hci_disconnect handle="), 1);
    EXPECT_EQ(occurrences(log, "btstack_set_power_mode mode=0"), 1);
    EXPECT_TRUE(simulator->waitForLine("disconnected client=1"));
    EXPECT_EQ(tool->output(), "");
    EXPECT_EQ(errorOutput(), "");
}

TEST_F(Tool, WithoutTheDaemonReportsBluetoothInactiveAlone) {
    unlock();
    listen(true);
    startTool();
    ASSERT_TRUE(waitForUpdates(1));
    EXPECT_TRUE(tool->running()); // idle, not ended
    tool->signal(SIGINT);
    EXPECT_EQ(tool->wait(5s), 0);
    settle(true);
    EXPECT_THAT(updates(listener->output()), ElementsAre(Update{3, ""}));
    EXPECT_EQ(tool->output(), "");
    EXPECT_EQ(errorOutput(), "");
}

TEST_F(Tool, InterruptedWhileSearchingEndsTheSearchOnce) {
    startDaemon(SIMULATOR_PATH, {"--inquiry-unit", "100"}); // nobody in range
    unlock();
    listen(true);
    startTool();
    ASSERT_TRUE(waitForUpdates(2));
    interruptAndWindDown();
    auto seen = updates(listener->output());
    ASSERT_GE(seen.size(), 3u);
    EXPECT_EQ(seen.front(), (Update{4, ""}));
    EXPECT_EQ(seen.back(), (Update{1, ""}));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Update{1, ""}), 1);
    for (std::size_t i = 1; i + 1 < seen.size(); ++i)
        EXPECT_EQ(seen[i], (Update{0, ""}));
    EXPECT_EQ(storedAddress(), "");
}

TEST_F(Tool, MessagesThatAreNotUnlockedReachNobody) {
    // Nobody holds the unlock: a listener without the bootstrap hears nothing from the tool,
    // while the pairing and the stored address go on regardless.
    startDaemon(SIMULATOR_PATH, {"--device", "address=" + kPad + ",class=0x040508,pin=7391"});
    listen(false);
    startTool();
    ASSERT_TRUE(simulator->waitForLine(
        "command client=1 hci_pin_code_request_reply address=" + kPad + " pin_length=4 pin=7391"));
    tool->signal(SIGINT);
    EXPECT_EQ(tool->wait(10s), 0);
    settle(false);
    EXPECT_THAT(updates(listener->output()), ::testing::IsEmpty());
    EXPECT_EQ(storedAddress(), kPadHex);
}

namespace {

// An accepted device and one that is not a controller answer in one inquiry event.
struct SharedEvent {
    const char *name;
    std::string accepted;          // the controller's device description
    std::string other;             // the other device's class
    std::vector<std::string> sent; // what the tool must send while pairing, in order
    std::size_t paired;            // state-2 reports
};
void PrintTo(const SharedEvent &c, std::ostream *os) {
    *os << c.name;
}

class ToolSharedEvent : public Tool, public ::testing::WithParamInterface<SharedEvent> {};

} // namespace

TEST_P(ToolSharedEvent, PairsTheControllerByItsOwnClass) {
    const SharedEvent &c = GetParam();
    // A PIN nobody answers fails the link after 1 s instead of 10.
    startDaemon(SIMULATOR_PATH,
                {"--group-responses", "--log-events", "--pairing-timeout", "1000", "--device",
                 "address=" + kPad + "," + c.accepted, "--device",
                 "address=A0:B1:C2:D3:E4:F5,class=" + c.other});
    unlock();
    listen(true);
    startTool();
    ASSERT_TRUE(waitForUpdates(3 + c.paired)) << simulator->output();
    // Both responses reached the tool in one event: 0x22, 29 bytes, 2 responses.
    EXPECT_NE(simulator->output().find(" 221d02"), std::string::npos);
    auto seen = updates(listener->output());
    EXPECT_THAT(std::vector<Update>(seen.begin(), seen.begin() + 3),
                ElementsAre(Update{4, ""}, Update{0, ""}, Update{1, ""}));
    tool->signal(SIGINT);
    EXPECT_EQ(tool->wait(10s), 0);
    settle(true);
    seen = updates(listener->output());
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Update{2, kPadHex}),
              static_cast<long>(c.paired));
    EXPECT_EQ(storedAddress(), kPadHex);

    // What the tool sent once it began pairing, in order, and each once.
    std::vector<std::string> pairing;
    std::istringstream lines(simulator->output());
    std::string line;
    while (std::getline(lines, line))
        for (const auto &prefix : {"hci_pin_code_request_reply", "l2cap_create_channel_mtu"})
            if (line.starts_with(std::string("command client=1 ") + prefix))
                pairing.push_back(line.substr(17));
    EXPECT_THAT(pairing, ElementsAreArray(c.sent));
}

INSTANTIATE_TEST_SUITE_P(
    Classes, ToolSharedEvent,
    ::testing::Values(
        SharedEvent{"DualShock4ThenOther",
                    "class=0x002508,pin=5820",
                    "0x1A010C",
                    {"l2cap_create_channel_mtu address=" + kPad + " psm=0x0011 mtu=0x00fa",
                     "l2cap_create_channel_mtu address=" + kPad + " psm=0x0013 mtu=0x00fa",
                     "hci_pin_code_request_reply address=" + kPad + " pin_length=4 pin=5820"},
                    2},
        SharedEvent{"TwoStepThenAlmostDualShock4",
                    "class=0x000508",
                    "0x002509",
                    {"l2cap_create_channel_mtu address=" + kPad + " psm=0x0011 mtu=0x00fa",
                     "l2cap_create_channel_mtu address=" + kPad + " psm=0x0013 mtu=0x00fa"},
                    1}),
    [](const auto &info) { return std::string(info.param.name); });
