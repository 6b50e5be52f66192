#include "NSOperationQueue.h"
#include "UIControl.h"
#include "UIGestureRecognizer.h"
#include "UIViewHost.h"

#include <QTest>
#include <atomic>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>

using State = UIGestureRecognizerState;

namespace {
std::string name(State s) {
    switch (s) {
    case State::Began:
        return "B";
    case State::Changed:
        return "C";
    case State::Ended:
        return "E";
    default:
        return "?";
    }
}
} // namespace

TEST(Gestures, PanReportsOneTouchWhileMovingAndNoneAtTheEnd) {
    std::string seen;
    UIPanGestureRecognizer pan([&](UIGestureRecognizer &r) {
        seen += name(r.state()) + std::to_string(r.numberOfTouches());
    });
    pan.touchBegan({0, 0});
    pan.touchMoved({3, 0}); // within the hysteresis: nothing yet
    pan.touchMoved({12, 0});
    pan.touchMoved({20, 0});
    pan.touchEnded({20, 0});
    EXPECT_EQ(seen, "B1C1E0");
    EXPECT_EQ(pan.locationOfTouch(0, nullptr), (CGPoint{0, 0}));
}

TEST(Gestures, TapEndsWithItsTouchUnlessItTravelled) {
    int taps = 0;
    CGPoint where;
    UITapGestureRecognizer tap([&](UIGestureRecognizer &r) {
        ++taps;
        EXPECT_EQ(r.state(), State::Ended);
        EXPECT_EQ(r.numberOfTouches(), 1u);
        where = r.locationOfTouch(0, nullptr);
    });
    tap.touchBegan({5, 5});
    tap.touchMoved({7, 6});
    tap.touchEnded({7, 6});
    EXPECT_EQ(taps, 1);
    EXPECT_EQ(where, (CGPoint{7, 6}));
    tap.touchBegan({5, 5});
    tap.touchMoved({40, 5});
    tap.touchEnded({5, 5});
    EXPECT_EQ(taps, 1);
}

TEST(Controls, ActionsRunInOrderForTheirEventsAndGoWithTheirTarget) {
    auto control = std::make_shared<UIControl>();
    std::string seen;
    int a = 0, b = 0;
    control->addTarget(
        &a, [&](UIControl &) { seen += "a"; }, UIControlEventValueChanged);
    control->addTarget(
        &b, [&](UIControl &) { seen += "b"; },
        UIControlEventValueChanged | UIControlEventEditingDidEnd);
    control->sendActionsForControlEvents(UIControlEventValueChanged);
    control->sendActionsForControlEvents(UIControlEventEditingDidEnd);
    EXPECT_EQ(seen, "abb");
    control->removeTarget(&b);
    control->sendActionsForControlEvents(UIControlEventEditingDidEnd);
    EXPECT_EQ(seen, "abb");
}

TEST(OperationQueue, SuspendedHoldsTheOperationThenRunsItOnItsOwnThread) {
    NSOperationQueue queue;
    queue.setSuspended(true);
    std::atomic<bool> ran{false};
    std::thread::id where;
    queue.addOperation([&] {
        where = std::this_thread::get_id();
        ran = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ran);
    EXPECT_EQ(queue.operationCount(), 1u);
    queue.setSuspended(false);
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_TRUE(ran);
    EXPECT_NE(where, std::this_thread::get_id());
}

// A view whose last owner is one of its queue's own operations (a render that outlived its
// screen): the queue goes while its thread is still inside run. Caught under a sanitizer or as
// a crash or hang when the thread touches the freed queue afterwards.
TEST(OperationQueue, LastOwnerLettingGoInsideAnOperationLeavesTheThreadSafe) {
    struct Owner {
        NSOperationQueue queue;
        std::atomic<bool> *gone;
        ~Owner() { *gone = true; }
    };
    for (int round = 0; round < 50; ++round) {
        std::atomic<bool> gone{false};
        auto owner = std::make_shared<Owner>();
        owner->gone = &gone;
        std::atomic<bool> release{false};
        owner->queue.addOperation([keep = owner, &release]() mutable {
            while (!release)
                std::this_thread::yield();
        });
        std::weak_ptr<Owner> watch = owner;
        owner.reset(); // the operation now holds the last reference
        release = true;
        while (!gone)
            std::this_thread::yield();
        // The queue's memory is handed out again at once, scribbled over.
        std::vector<std::unique_ptr<unsigned char[]>> reuse;
        for (int i = 0; i < 64; ++i) {
            reuse.push_back(std::make_unique<unsigned char[]>(sizeof(Owner)));
            std::memset(reuse.back().get(), 0xff, sizeof(Owner));
        }
        EXPECT_TRUE(watch.expired());
    }
}

TEST(ViewHost, MouseDragBecomesAPanOnTheViewUnderThePress) {
    auto root = std::make_shared<UIView>(CGRectMake(0, 0, 100, 100));
    auto target = std::make_shared<UIView>(CGRectMake(50, 50, 50, 50));
    root->addSubview(target);
    std::string seen;
    CGPoint last;
    target->addGestureRecognizer(
        std::make_shared<UIPanGestureRecognizer>([&](UIGestureRecognizer &r) {
            seen += name(r.state());
            if (r.numberOfTouches())
                last = r.locationOfTouch(0, target.get());
        }));
    UIViewHost host(root);
    host.show();
    QTest::mousePress(&host, Qt::LeftButton, {}, QPoint(60, 60));
    QTest::mouseMove(&host, QPoint(75, 60));
    QTest::mouseMove(&host, QPoint(90, 70));
    QTest::mouseRelease(&host, Qt::LeftButton, {}, QPoint(90, 70));
    EXPECT_EQ(seen, "BCE");
    EXPECT_EQ(last, (CGPoint{40, 20}));
}

// Found by the sanitizer build: a map's rendering still running on its queue's thread while the
// application object was being destroyed crashed the process at exit.
TEST(OperationQueueDeathTest, NoOperationOutlivesTheApplication) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            NSOperationQueue queue;
            std::atomic<int> state{0}; // 1 started, 2 finished
            std::atomic<bool> laterRan{false};
            queue.addOperation([&] {
                state = 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                state = 2;
            });
            queue.addOperation([&] { laterRan = true; });
            while (state == 0)
                std::this_thread::yield();
            NSOperationQueue::stopAllQueues();
            const bool finished = state == 2;
            NSOperationQueue another;
            another.addOperation([&] { laterRan = true; });
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            std::_Exit(finished && !laterRan ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
