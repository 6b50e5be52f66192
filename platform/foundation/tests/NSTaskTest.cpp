#include "NSTask.h"
#include "dispatch.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

template <typename Condition> bool within(std::chrono::milliseconds limit, Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Gone, or ended and waiting for a parent to collect it (whatever adopts orphans may not).
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, name, state;
    if (!(stat >> pidText >> name >> state))
        return true;
    return state == "Z" || state == "X";
}

} // namespace

TEST(NSTask, ReportsHowTheProgramEnded) {
    auto exits = NSTask::launchedTaskWithLaunchPath("/bin/sh", {"-c", "exit 3"});
    ASSERT_NE(exits, nullptr);
    EXPECT_GT(exits->processIdentifier(), 0);
    ASSERT_TRUE(within(5s, [&] { return !exits->isRunning(); }));
    EXPECT_EQ(exits->terminationStatus(), 3);

    auto sleeps = NSTask::launchedTaskWithLaunchPath("/bin/sleep", {"30"});
    ASSERT_NE(sleeps, nullptr);
    EXPECT_TRUE(sleeps->isRunning());
    EXPECT_EQ(sleeps->terminationStatus(), -1);
    ::kill(sleeps->processIdentifier(), SIGINT);
    ASSERT_TRUE(within(5s, [&] { return !sleeps->isRunning(); }));
    EXPECT_EQ(sleeps->terminationStatus(), 128 + SIGINT);
}

TEST(NSTask, TheTerminationHandlerRunsOnceWhetherSetBeforeOrAfterTheEnd) {
    auto sleeps = NSTask::launchedTaskWithLaunchPath("/bin/sleep", {"30"});
    ASSERT_NE(sleeps, nullptr);
    std::promise<int> before;
    sleeps->setTerminationHandler([&] { before.set_value(sleeps->terminationStatus()); });
    ::kill(sleeps->processIdentifier(), SIGINT);
    auto statusSeen = before.get_future();
    ASSERT_EQ(statusSeen.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(statusSeen.get(), 128 + SIGINT);

    int after = 0;
    sleeps->setTerminationHandler([&] { ++after; });
    EXPECT_EQ(after, 1);
}

TEST(NSTask, AProgramThatCannotRunGivesNoTask) {
    EXPECT_EQ(NSTask::launchedTaskWithLaunchPath("/nonexistent/tool", {}), nullptr);
    char folder[] = "/tmp/nbr-task.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string plain = std::string(folder) + "/tool";
    std::ofstream(plain) << "#!/bin/sh\n";
    ::chmod(plain.c_str(), 0644);
    EXPECT_EQ(NSTask::launchedTaskWithLaunchPath(plain, {}), nullptr);
    EXPECT_EQ(NSTask::launchedTaskWithLaunchPath(folder, {}), nullptr);
    ::unlink(plain.c_str());
    ::rmdir(folder);
}

// A tool that only ends when interrupted must not outlive the application that started it.
TEST(NSTask, ATaskIsInterruptedWhenItsStarterDies) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t starter = ::fork();
    ASSERT_GE(starter, 0);
    if (starter == 0) {
        auto task = NSTask::launchedTaskWithLaunchPath("/bin/sleep", {"30"});
        const pid_t pid = task ? task->processIdentifier() : -1;
        ssize_t written = ::write(pipeFds[1], &pid, sizeof pid);
        ::_exit(written == sizeof pid ? 0 : 1);
    }
    ::close(pipeFds[1]);
    pid_t tool = -1;
    ASSERT_EQ(::read(pipeFds[0], &tool, sizeof tool), static_cast<ssize_t>(sizeof tool));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(starter, &status, 0);
    ASSERT_GT(tool, 0);
    EXPECT_TRUE(within(5s, [&] { return ended(tool); })) << "sleep " << tool;
}

// A block that waits never holds up the next one: the second releases the first.
TEST(GlobalQueue, BlocksRunOffTheCallingThreadAndSideBySide) {
    std::promise<void> released;
    std::promise<std::thread::id> first, second;
    auto releasedFuture = released.get_future().share();
    dispatch_queue_t queue = dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0);
    for (int i = 0; i < 3; ++i) // keep the pool's usual threads busy first
        dispatch_async(queue, [releasedFuture] { releasedFuture.wait_for(5s); });
    dispatch_async(queue, [&first, releasedFuture] {
        const bool freed = releasedFuture.wait_for(5s) == std::future_status::ready;
        first.set_value(freed ? std::this_thread::get_id() : std::thread::id());
    });
    dispatch_async(queue, [&second, &released] {
        second.set_value(std::this_thread::get_id());
        released.set_value();
    });
    auto firstThread = first.get_future();
    ASSERT_EQ(firstThread.wait_for(10s), std::future_status::ready);
    const std::thread::id a = firstThread.get();
    const std::thread::id b = second.get_future().get();
    EXPECT_NE(a, std::thread::id()) << "the first block was never released";
    EXPECT_NE(a, std::this_thread::get_id());
    EXPECT_NE(a, b);
}
