#pragma once

#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <thread>
#include <vector>

// Each test gets a bus of its own (tests run side by side); the application object that servers
// dispatch on comes from the tests' main.
class MessagingTest : public ::testing::Test {
protected:
    // Runs messagingutil with `arguments` to the end; its exit status.
    static int runTool(const std::vector<std::string> &arguments);
    static std::unique_ptr<platform::testing::ChildProcess>
    startTool(const std::vector<std::string> &arguments);

    struct Received {
        std::string name;
        platform::PlistValue::Dictionary userInfo;
        std::thread::id thread;
    };

private:
    platform::testing::PrivateSessionBus bus_;
};
