#include "ChildProcess.h"
#include "PrivateSessionBus.h"

#include <gtest/gtest.h>

using platform::testing::ChildProcess;

TEST(NotifyUtilProcess, EveryPostOfAShortLivedPosterArrives) {
    platform::testing::PrivateSessionBus bus;
    ChildProcess watcher(NOTIFYUTIL_PATH, {"-w", "-n", "3", "com.example.a", "com.example.b"});
    ASSERT_TRUE(watcher.waitForLine("ready"));
    // The poster exits right after its last post; nothing it posted may be lost on the way.
    ChildProcess poster(NOTIFYUTIL_PATH, {"-p", "com.example.a", "com.example.other",
                                          "com.example.b", "com.example.a"});
    EXPECT_EQ(poster.wait(std::chrono::seconds(10)), 0);
    EXPECT_EQ(watcher.wait(std::chrono::seconds(10)), 0);
    EXPECT_EQ(watcher.output(), "ready\ncom.example.a\ncom.example.b\ncom.example.a\n");
}
