// nbrdiscovery as a real process against the BTstack simulator, on a bus of each test's own,
// with a listener on the messaging center as the settings page would run it.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"

#include <functional>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sstream>

using platform::testing::ChildProcess;
using platform::testing::occurrences;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

using namespace std::chrono_literals;

const std::string kPad = "1C:66:6D:01:02:03";
const std::string kPadHex = "1c666d010203";

struct Update {
    int state;
    std::string address; // hexadecimal, empty when none
    bool operator==(const Update &) const = default;
};
void PrintTo(const Update &u, std::ostream *os) {
    *os << "{" << u.state << ", " << u.address << "}";
}

// Updates printed by messagingutil: "NBRDiscoveryUpdate NBRDiscoveryState=i:4
// PS4BluetoothAddress=d:".
std::vector<Update> updates(const std::string &output) {
    std::vector<Update> result;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.starts_with(NBRDiscoveryUpdateMessage))
            continue;
        Update u{-1, "?"};
        std::istringstream words(line);
        std::string word;
        while (words >> word) {
            if (word.starts_with("NBRDiscoveryState=i:"))
                u.state = std::stoi(word.substr(20));
            else if (word.starts_with("PS4BluetoothAddress=d:"))
                u.address = word.substr(22);
        }
        result.push_back(u);
    }
    return result;
}

class Tool : public ::testing::Test {
protected:
    void startSimulator(std::vector<std::string> arguments) {
        simulator = std::make_unique<ChildProcess>(SIMULATOR_PATH, std::move(arguments));
        ASSERT_TRUE(simulator->waitForLine("ready"));
    }
    // As the SpringBoard plug-in does: hold the unlock for as long as the process runs.
    void unlock() {
        unlocker = std::make_unique<ChildProcess>(
            MESSAGINGUTIL_PATH, std::vector<std::string>{"-u", NBRMessagingCenterName});
        ASSERT_TRUE(unlocker->waitForLine("ready"));
    }
    void listen(bool bootstrap) {
        std::vector<std::string> args{"-s"};
        if (bootstrap)
            args.push_back("-b");
        args.insert(args.end(), {NBRMessagingCenterName, NBRDiscoveryUpdateMessage, "Sentinel"});
        listener = std::make_unique<ChildProcess>(MESSAGINGUTIL_PATH, args);
        ASSERT_TRUE(listener->waitForLine("ready"));
    }
    // The tool, its standard error kept in a file (standard output is captured).
    void startTool() {
        tool = std::make_unique<ChildProcess>(
            "/bin/sh", std::vector<std::string>{"-c", "exec \"$0\" 2>\"$1\"", TOOL_PATH, errors});
    }
    // Waits until the listener has printed `count` updates.
    bool waitForUpdates(std::size_t count, std::chrono::milliseconds timeout = 10s) {
        return platform::testing::spinUntil(
            [&] {
                if (updates(listener->output()).size() >= count)
                    return true;
                listener->waitForLine("never", 20ms);
                return false;
            },
            timeout);
    }
    // A SIGINT (and whatever `then` does next) ends the tool cleanly once the two seconds it gives
    // a search to wind down are over; then everything it sent has reached the listener.
    void interruptAndWindDown(const std::function<void()> &then = {}) {
        const auto interrupted = std::chrono::steady_clock::now();
        tool->signal(SIGINT);
        if (then)
            then();
        if (HasFatalFailure())
            return;
        EXPECT_EQ(tool->wait(10s), 0);
        const auto took = std::chrono::steady_clock::now() - interrupted;
        EXPECT_GE(took, 1900ms);
        EXPECT_LT(took, 5s);
        settle(true);
    }
    // Everything sent before now has reached the listener once this returns.
    void settle(bool bootstrap) {
        std::vector<std::string> args{"-p"};
        if (bootstrap)
            args.push_back("-b");
        args.insert(args.end(), {NBRMessagingCenterName, "Sentinel"});
        ChildProcess sender(MESSAGINGUTIL_PATH, args);
        EXPECT_EQ(sender.wait(5s), 0);
        EXPECT_TRUE(listener->waitForLine("Sentinel"));
    }
    std::string storedAddress() {
        auto prefs = root.readPlist(NBRPreferencesPath);
        if (!prefs || !prefs->count(NBRBluetoothAddressKey))
            return "";
        std::string hex;
        char byte[3];
        for (auto b : *prefs->at(NBRBluetoothAddressKey).data()) {
            std::snprintf(byte, sizeof byte, "%02x", b);
            hex += byte;
        }
        return hex;
    }
    std::string errorOutput() { return platform::testing::readFile(errors); }

    platform::testing::PrivateSessionBus bus;
    platform::testing::TestDeviceRoot root;
    std::string errors = root.path("/tmp/nbrdiscovery.err");
    std::unique_ptr<ChildProcess> simulator, unlocker, listener, tool;
};

} // namespace

TEST_F(Tool, PairsADualShock4ReportingEachStepAndShutsDownOnce) {
    startSimulator({"--device", "address=" + kPad + ",class=0x002508,pin=5820"});
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
    startSimulator({"--inquiry-unit", "100"}); // nobody in range
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
    startSimulator({"--device", "address=" + kPad + ",class=0x040508,pin=7391"});
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
    startSimulator({"--group-responses", "--log-events", "--pairing-timeout", "1000", "--device",
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
