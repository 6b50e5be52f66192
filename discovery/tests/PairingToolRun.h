#pragma once

// nbrdiscovery as a real process against a BTstack daemon (the simulator, or the bridge on
// BlueZ), on a bus of each test's own, with a listener on the messaging center as the settings
// page would run it. Tests start their daemon and define SIMULATOR_PATH or whichever they run.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace pairing_tool_run {

using namespace std::chrono_literals;
using platform::testing::ChildProcess;

inline const std::string kPad = "1C:66:6D:01:02:03";
inline const std::string kPadHex = "1c666d010203";

struct Update {
    int state;
    std::string address; // hexadecimal, empty when none
    bool operator==(const Update &) const = default;
};
inline void PrintTo(const Update &u, std::ostream *os) {
    *os << "{" << u.state << ", " << u.address << "}";
}

// Updates printed by messagingutil: "NBRDiscoveryUpdate NBRDiscoveryState=i:4
// PS4BluetoothAddress=d:".
inline std::vector<Update> updates(const std::string &output) {
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
    // The BTstack daemon the tool meets; `simulator` names it whichever it is.
    void startDaemon(const std::string &program, std::vector<std::string> arguments,
                     const platform::testing::ChildSetup &setup = {}) {
        simulator = std::make_unique<ChildProcess>(program, std::move(arguments), setup);
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

} // namespace pairing_tool_run
