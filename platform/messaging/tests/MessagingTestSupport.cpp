#include "MessagingTestSupport.h"

int MessagingTest::runTool(const std::vector<std::string> &arguments) {
    platform::testing::ChildProcess tool(MESSAGINGUTIL_PATH, arguments);
    return tool.wait(std::chrono::seconds(10));
}

std::unique_ptr<platform::testing::ChildProcess>
MessagingTest::startTool(const std::vector<std::string> &arguments) {
    auto tool = std::make_unique<platform::testing::ChildProcess>(MESSAGINGUTIL_PATH, arguments);
    EXPECT_TRUE(tool->waitForLine("ready"));
    return tool;
}
