// The light-bar sender against a transport of the test's own: what it sends while an earlier
// send is still under way, how far apart, and when a failure is reported.
#include "NBRLightColorSender.h"

#include <atomic>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

namespace {

// Holds the first send until released, as a daemon slow to take the connection would.
struct SlowTransport {
    std::mutex mutex;
    std::condition_variable changed;
    bool held = true;
    std::vector<std::uint32_t> sent;
    std::vector<std::chrono::steady_clock::time_point> sentAt;

    bool operator()(std::uint32_t pixel) {
        std::unique_lock lock(mutex);
        sent.push_back(pixel);
        sentAt.push_back(std::chrono::steady_clock::now());
        changed.notify_all();
        changed.wait(lock, [this] { return !held || sent.size() > 1; });
        return true;
    }
    void waitForSends(std::size_t count) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, 5s, [&] { return sent.size() >= count; });
    }
    void release() {
        std::lock_guard lock(mutex);
        held = false;
        changed.notify_all();
    }
};

} // namespace

TEST(LightColorSender, ColoursThatComeWhileASendIsUnderWayAreSupersededNotQueued) {
    auto transport = std::make_shared<SlowTransport>();
    int failures = 0;
    NBRLightColorSender sender([transport](std::uint32_t pixel) { return (*transport)(pixel); },
                               [&failures] { ++failures; });
    sender.send(0x010101, false);
    transport->waitForSends(1);
    for (std::uint32_t pixel = 0x020202; pixel <= 0x090909; pixel += 0x010101)
        sender.send(pixel, false);
    EXPECT_FALSE(sender.waitUntilIdle(50ms)) << "the first send is still held";
    transport->release();
    ASSERT_TRUE(sender.waitUntilIdle(5s));
    EXPECT_EQ(transport->sent, (std::vector<std::uint32_t>{0x010101, 0x090909}));
    ASSERT_EQ(transport->sentAt.size(), 2u);
    EXPECT_GE(transport->sentAt[1] - transport->sentAt[0], NBRLightColorSender::kSpacing);
    EXPECT_EQ(failures, 0);

    // Sent one after another, each colour waits out the spacing rather than being dropped.
    sender.send(0x0a0a0a, false);
    ASSERT_TRUE(sender.waitUntilIdle(5s));
    sender.send(0x0b0b0b, false);
    ASSERT_TRUE(sender.waitUntilIdle(5s));
    EXPECT_EQ(transport->sent,
              (std::vector<std::uint32_t>{0x010101, 0x090909, 0x0a0a0a, 0x0b0b0b}));
    for (std::size_t i = 1; i < transport->sentAt.size(); ++i)
        EXPECT_GE(transport->sentAt[i] - transport->sentAt[i - 1], NBRLightColorSender::kSpacing);
}

TEST(LightColorSender, OnlyColoursThatAskForItReportAFailure) {
    std::atomic<int> failures = 0;
    std::vector<std::uint32_t> tried;
    NBRLightColorSender sender(
        [&tried](std::uint32_t pixel) {
            tried.push_back(pixel);
            return false;
        },
        [&failures] { ++failures; }, 1ms);
    for (std::uint32_t pixel : {1u, 2u, 3u}) {
        sender.send(pixel, false);
        ASSERT_TRUE(sender.waitUntilIdle(5s));
    }
    EXPECT_EQ(failures, 0) << "a drag's colours";
    sender.send(4, true);
    ASSERT_TRUE(sender.waitUntilIdle(5s));
    EXPECT_EQ(failures, 1) << "the colour the user ended on";
    EXPECT_EQ(tried, (std::vector<std::uint32_t>{1, 2, 3, 4}));
}

TEST(LightColorSender, ASendUnderWayOutlivesTheSender) {
    auto transport = std::make_shared<SlowTransport>();
    {
        NBRLightColorSender sender([transport](std::uint32_t pixel) { return (*transport)(pixel); },
                                   [] {});
        sender.send(0x123456, false);
        transport->waitForSends(1);
        sender.send(0x654321, false);
    }
    transport->release();
    transport->waitForSends(2);
    std::lock_guard lock(transport->mutex);
    EXPECT_EQ(transport->sent, (std::vector<std::uint32_t>{0x123456, 0x654321}));
}
