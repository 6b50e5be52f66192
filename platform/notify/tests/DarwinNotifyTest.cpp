#include "ChildProcess.h"
#include "DarwinNotifyCenter.h"
#include "EventLoopWait.h"
#include "notify.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using platform::testing::ChildProcess;
using platform::testing::spinUntil;
using namespace std::chrono_literals;

namespace {

struct Recorder {
    std::vector<std::string> names;
};

void record(CFNotificationCenterRef, void *observer, CFNotificationName name, const void *,
            const void *) {
    static_cast<Recorder *>(observer)->names.push_back(name);
}

void observe(Recorder &recorder, const char *name) {
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), &recorder, record,
                                    name, nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
}

} // namespace

TEST(DarwinNotify, ObserversGetExactlyTheirNames) {
    Recorder a, b;
    observe(a, "com.test.one");
    observe(b, "com.test.one");
    observe(b, "com.test.two");

    EXPECT_EQ(notify_post("com.test.one"), NOTIFY_STATUS_OK);
    EXPECT_EQ(notify_post("com.test.two"), NOTIFY_STATUS_OK);
    EXPECT_EQ(notify_post("com.test.one.more"), NOTIFY_STATUS_OK)
        << "a longer name is another name";
    EXPECT_TRUE(spinUntil([&] { return b.names.size() >= 2 && !a.names.empty(); }));
    spinUntil([] { return false; }, 100ms); // let any stray delivery arrive
    EXPECT_EQ(a.names, std::vector<std::string>{"com.test.one"});
    EXPECT_EQ(b.names, (std::vector<std::string>{"com.test.one", "com.test.two"}));

    CFNotificationCenterRemoveObserver(CFNotificationCenterGetDarwinNotifyCenter(), &b,
                                       "com.test.one", nullptr);
    notify_post("com.test.one");
    notify_post("com.test.two");
    EXPECT_TRUE(spinUntil([&] { return a.names.size() == 2 && b.names.size() == 3; }));
    EXPECT_EQ(b.names.back(), "com.test.two");
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), &a);
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), &b);
    notify_post("com.test.one");
    spinUntil([] { return false; }, 100ms);
    EXPECT_EQ(a.names.size(), 2u);
    EXPECT_EQ(b.names.size(), 3u);
}

TEST(DarwinNotify, CrossesProcesses) {
    ChildProcess watcher(NOTIFYUTIL_PATH, {"-w", "com.test.cross"});
    ASSERT_TRUE(watcher.waitForLine("ready"));
    EXPECT_EQ(notify_post("com.test.cross"), NOTIFY_STATUS_OK);
    EXPECT_TRUE(watcher.waitForLine("com.test.cross"));

    Recorder recorder;
    observe(recorder, "com.test.back");
    // Each poster exits right after posting: nothing may be lost on the way out.
    constexpr std::size_t kPosters = 20;
    for (std::size_t i = 0; i < kPosters; ++i) {
        ChildProcess poster(NOTIFYUTIL_PATH, {"-p", "com.test.back"});
        EXPECT_EQ(poster.wait(5s), 0);
    }
    EXPECT_TRUE(spinUntil([&] { return recorder.names.size() == kPosters; }));
    EXPECT_EQ(recorder.names.size(), kPosters);
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), &recorder);
    EXPECT_EQ(watcher.stop(SIGTERM), 0);
}

TEST(DarwinNotify, NoBusFailsNobody) {
    ChildProcess poster("/usr/bin/env", {"-u", "DBUS_SESSION_BUS_ADDRESS", NOTIFYUTIL_PATH, "-p",
                                         "com.test.nobus"});
    EXPECT_EQ(poster.wait(5s), 1) << "reports the failure, does not crash or hang";
    ChildProcess watcher("/usr/bin/env", {"-u", "DBUS_SESSION_BUS_ADDRESS", NOTIFYUTIL_PATH, "-w",
                                          "com.test.nobus"});
    EXPECT_EQ(watcher.wait(5s), 1) << "says it cannot observe instead of waiting on nothing";
    EXPECT_EQ(watcher.output(), "");
}

TEST(DarwinNotify, InvalidNames) {
    EXPECT_EQ(notify_post(nullptr), NOTIFY_STATUS_INVALID_NAME);
    EXPECT_EQ(notify_post(""), NOTIFY_STATUS_INVALID_NAME);
    // A nameless observation is ignored rather than matching everything.
    Recorder recorder;
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), &recorder, record,
                                    nullptr, nullptr,
                                    CFNotificationSuspensionBehaviorDeliverImmediately);
    notify_post("com.test.any");
    spinUntil([] { return false; }, 100ms);
    EXPECT_TRUE(recorder.names.empty());
}

TEST(DarwinNotify, OrderKeptWhileTheMainThreadIsBusy) {
    Recorder recorder;
    observe(recorder, "com.test.first");
    observe(recorder, "com.test.second");
    ChildProcess poster(NOTIFYUTIL_PATH, {"-p", "com.test.first", "com.test.second"});
    EXPECT_EQ(poster.wait(5s), 0);
    ::usleep(200000); // both arrive while nothing is dispatched here
    EXPECT_TRUE(spinUntil([&] { return recorder.names.size() == 2; }));
    EXPECT_EQ(recorder.names, (std::vector<std::string>{"com.test.first", "com.test.second"}));
    CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), &recorder);
}
