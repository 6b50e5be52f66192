#include "MessagingTestSupport.h"

#include <QCoreApplication>
#include <QEventLoop>

MessagingTest::MessagingTest() {
    static int argc = 1;
    static char name[] = "messaging-tests";
    static char *argv[] = {name, nullptr};
    if (QCoreApplication::instance() == nullptr)
        new QCoreApplication(argc, argv);
}

bool MessagingTest::spinUntil(const std::function<bool()> &done,
                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

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
