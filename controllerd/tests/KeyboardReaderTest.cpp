// The keyboard reader against evdev nodes built by umockdev. The executable runs itself again
// under the umockdev preload, which sends /sys and /dev into each test's tree.
#include "KeyboardReader.h"
#include "ControllerSysfs.h"
#include "EventLoopWait.h"
#include "UmockdevPreload.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using controllerd::KeyboardReader;
using platform::testing::ControllerSysfs;
using platform::testing::FileModesHold;
using platform::testing::spinUntil;
using KeyChange = std::pair<int, int>;

namespace {

// Before main: without the preload the reader would open the machine's own keyboards.
[[maybe_unused]] const bool rerun = platform::testing::runUnderUmockdevPreload();

class KeyboardReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::testing::umockdevPreloadActive());
        ASSERT_FALSE(sysfs_.root().empty()) << sysfs_.error();
        QObject::connect(
            &reader_, &KeyboardReader::keyEvent,
            [this](std::uint16_t code, std::int32_t value) { keys_.emplace_back(code, value); });
    }

    ControllerSysfs::InputDevice addKeyboard(const std::string &name = "Test Keyboard") {
        auto keyboard = sysfs_.addKeyboard(name);
        EXPECT_FALSE(keyboard.node.empty()) << sysfs_.error();
        return keyboard;
    }

    bool start() {
        std::string error;
        const bool started = reader_.start(error);
        EXPECT_TRUE(started) << error;
        EXPECT_EQ(error, "");
        return started;
    }

    bool keysArrive(const std::vector<KeyChange> &expected) {
        return spinUntil([&] { return keys_.size() >= expected.size(); }) && keys_ == expected;
    }

    ControllerSysfs sysfs_;
    KeyboardReader reader_; // after the tree: it closes its nodes first
    std::vector<KeyChange> keys_;
};

TEST_F(KeyboardReaderTest, OpensTheKeyboardAndLeavesTheMouse) {
    sysfs_.addMouse("Test Mouse");
    const auto keyboard = addKeyboard();
    ASSERT_TRUE(start());
    EXPECT_EQ(reader_.keyboards(), std::vector<std::string>{keyboard.node});
}

TEST_F(KeyboardReaderTest, PressAutorepeatAndReleaseArriveAsKeyEvents) {
    const auto keyboard = addKeyboard();
    ASSERT_TRUE(start());
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_A, 1)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_A, 2)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_ENTER, 1)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_A, 0)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_ENTER, 0)) << sysfs_.error();
    EXPECT_TRUE(keysArrive({{KEY_A, 1}, {KEY_A, 2}, {KEY_ENTER, 1}, {KEY_A, 0}, {KEY_ENTER, 0}}))
        << keys_.size() << " key events";
}

// The release itself was lost with the events the reader could not take in time.
TEST_F(KeyboardReaderTest, AKeyReleasedDuringADropIsReleased) {
    const auto keyboard = addKeyboard();
    ASSERT_TRUE(start());
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_W, 1)) << sysfs_.error();
    ASSERT_TRUE(keysArrive({{KEY_W, 1}}));
    ASSERT_TRUE(sysfs_.releaseKeyUnseen(keyboard, KEY_W)) << sysfs_.error();
    EXPECT_TRUE(keysArrive({{KEY_W, 1}, {KEY_W, 0}}));
}

TEST_F(KeyboardReaderTest, AKeyboardPluggedInWhileReadingIsRead) {
    addKeyboard("First Keyboard");
    ASSERT_TRUE(start());
    const auto second = addKeyboard("Second Keyboard");
    ASSERT_TRUE(spinUntil([&] { return reader_.keyboards().size() == 2; }));
    EXPECT_EQ(reader_.keyboards().back(), second.node);
    ASSERT_TRUE(sysfs_.sendKey(second, KEY_S, 1)) << sysfs_.error();
    EXPECT_TRUE(keysArrive({{KEY_S, 1}}));
}

TEST_F(KeyboardReaderTest, AKeyboardUnpluggedWithKeysDownReleasesThem) {
    const auto first = addKeyboard("First Keyboard");
    const auto second = addKeyboard("Second Keyboard");
    ASSERT_TRUE(start());
    ASSERT_TRUE(sysfs_.sendKey(first, KEY_D, 1)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(first, KEY_LEFTSHIFT, 1)) << sysfs_.error();
    ASSERT_TRUE(sysfs_.sendKey(second, KEY_J, 1)) << sysfs_.error();
    // One key held on both keyboards is one key down.
    ASSERT_TRUE(sysfs_.sendKey(second, KEY_D, 1)) << sysfs_.error();
    ASSERT_TRUE(spinUntil([&] { return keys_.size() == 3; }));

    sysfs_.removeInputDevice(first);
    ASSERT_TRUE(spinUntil([&] { return reader_.keyboards().size() == 1; }));
    EXPECT_EQ(reader_.keyboards().front(), second.node);
    // The other keyboard's keys stay down.
    ASSERT_TRUE(spinUntil([&] { return keys_.size() >= 4; }));
    ASSERT_TRUE(sysfs_.sendKey(second, KEY_D, 0)) << sysfs_.error();
    ASSERT_TRUE(spinUntil([&] { return keys_.size() >= 5; }));
    EXPECT_EQ(std::vector<KeyChange>(keys_.begin() + 3, keys_.end()),
              (std::vector<KeyChange>{{KEY_LEFTSHIFT, 0}, {KEY_D, 0}}));
}

TEST_F(KeyboardReaderTest, WithoutAKeyboardStartFailsAndSaysSo) {
    sysfs_.addMouse("Test Mouse");
    std::string error;
    EXPECT_FALSE(reader_.start(error));
    EXPECT_NE(error.find("No keyboard found"), std::string::npos) << error;
    EXPECT_TRUE(reader_.keyboards().empty());
    EXPECT_FALSE(reader_.running());
}

// The test runs as root: FileModesHold makes the node's mode count as it does for a user.
TEST_F(KeyboardReaderTest, AnUnreadableKeyboardIsNamedWithTheWayIn) {
    const auto refused = addKeyboard("Locked Keyboard");
    ASSERT_TRUE(sysfs_.refuseReading(refused)) << sysfs_.error();
    // Unreadable too, yet no keyboard: sysfs tells.
    const auto mouse = sysfs_.addMouse("Test Mouse");
    ASSERT_TRUE(sysfs_.refuseReading(mouse)) << sysfs_.error();
    std::string error;
    {
        FileModesHold modes;
        EXPECT_FALSE(reader_.start(error));
    }
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    EXPECT_NE(error.find(refused.node), std::string::npos) << error;
    EXPECT_NE(error.find("input group"), std::string::npos) << error;
    EXPECT_NE(error.find("udev rule"), std::string::npos) << error;
    EXPECT_NE(error.find("sees every key typed"), std::string::npos) << error;
    EXPECT_EQ(error.find(mouse.node), std::string::npos) << "the mouse is named: " << error;

    // Another keyboard that can be read: the reader starts and still names the refused one.
    reader_.stop();
    const auto readable = addKeyboard();
    {
        FileModesHold modes;
        EXPECT_TRUE(reader_.start(error));
    }
    EXPECT_EQ(reader_.keyboards(), std::vector<std::string>{readable.node});
    EXPECT_NE(error.find(refused.node), std::string::npos) << error;
}

TEST_F(KeyboardReaderTest, AnUnreadableKeyboardPluggedInWhileReadingIsNamedOnce) {
    std::vector<QString> problems;
    QObject::connect(&reader_, &KeyboardReader::problem,
                     [&](const QString &message) { problems.push_back(message); });
    addKeyboard();
    FileModesHold modes;
    ASSERT_TRUE(start());
    const auto refused = addKeyboard("Locked Keyboard");
    ASSERT_TRUE(sysfs_.refuseReading(refused)) << sysfs_.error();
    ASSERT_TRUE(spinUntil([&] { return !problems.empty(); }));
    EXPECT_TRUE(problems.front().contains(QString::fromStdString(refused.node)))
        << problems.front().toStdString();
    // /dev/input changes again: no second message for the same keyboard.
    addKeyboard("Third Keyboard");
    ASSERT_TRUE(spinUntil([&] { return reader_.keyboards().size() == 2; }));
    EXPECT_EQ(problems.size(), 1u);
}

TEST_F(KeyboardReaderTest, GrabsOnlyWhenAskedAndKeyboardsPluggedInLaterToo) {
    const auto first = addKeyboard("First Keyboard");
    ASSERT_TRUE(start());
    EXPECT_FALSE(sysfs_.grabbed(first));
    EXPECT_TRUE(reader_.setExclusive(true));
    EXPECT_TRUE(sysfs_.grabbed(first));
    const auto second = addKeyboard("Second Keyboard");
    ASSERT_TRUE(spinUntil([&] { return reader_.keyboards().size() == 2; }));
    EXPECT_TRUE(sysfs_.grabbed(second));
    EXPECT_TRUE(reader_.setExclusive(false));
    EXPECT_FALSE(sysfs_.grabbed(first));
    EXPECT_FALSE(sysfs_.grabbed(second));
}

} // namespace
