// The keyboard played as a gamepad by the daemon on its Linux backend, as a process: the desktop's
// keyboards and /dev/uinput are the umockdev tree's, the gamepad is what the daemon made through
// /dev/uinput and the events it wrote there; the control socket and the notifications are real.
#include "LinuxDaemonOnDoubles.h"

#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <QDeadlineTimer>
#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

using namespace linux_daemon;
using platform::testing::ControllerSysfs;

namespace {

// A connect of the keyboard, waited for.
ConnectOutcome connectKeyboard() {
    auto pending = startConnect(NBRControllerTypeKeyboard, {});
    return finish(pending);
}

// "ABS_HAT0Y=-1 BTN_A=1": one frame of the pad, up to its SYN_REPORT. The buttons by the pad's
// names (libevdev's are the compass's: BTN_SOUTH).
std::string described(const std::vector<input_event> &events) {
    static const std::map<unsigned, const char *> buttons = {
        {BTN_A, "BTN_A"},         {BTN_B, "BTN_B"},           {BTN_X, "BTN_X"},
        {BTN_Y, "BTN_Y"},         {BTN_TL, "BTN_TL"},         {BTN_TR, "BTN_TR"},
        {BTN_START, "BTN_START"}, {BTN_SELECT, "BTN_SELECT"}, {BTN_MODE, "BTN_MODE"}};
    std::string text;
    for (const input_event &event : events) {
        const auto button = buttons.find(event.code);
        const char *name = event.type == EV_KEY && button != buttons.end()
                               ? button->second
                               : libevdev_event_code_get_name(event.type, event.code);
        text += (text.empty() ? "" : " ") + std::string(name ? name : "?") + "=" +
                std::to_string(event.value);
    }
    return text;
}

// The double's BlueZ stays empty: the backend wants a system bus, the keyboard nothing of it.
class KeyboardGamepadProcess : public LinuxDaemonOnDoubles {
protected:

    void addUinput() { ASSERT_TRUE(sysfs_.addUinput()) << sysfs_.error(); }
    ControllerSysfs::InputDevice addKeyboard() {
        auto keyboard = sysfs_.addKeyboard("Test Keyboard");
        EXPECT_FALSE(keyboard.node.empty()) << sysfs_.error();
        return keyboard;
    }

    // The preferences as the Settings app and the keymap editor leave them: binary, whole.
    void storePreferences(std::int64_t type, platform::PlistValue::Dictionary keymap = {}) {
        platform::PlistValue::Dictionary file{{NBRControllerTypeKey, type}};
        if (!keymap.empty())
            file.emplace(NBRKeyboardKeymapKey, std::move(keymap));
        ASSERT_TRUE(
            root_.writePlist(NBRPreferencesPath, std::move(file), platform::PlistFormat::Binary));
    }

    std::optional<ControllerSysfs::UinputDevice> livePad() const {
        const auto devices = sysfs_.uinputDevices();
        if (devices.empty() || devices.back().made.node.empty() || devices.back().destroyed)
            return std::nullopt;
        return devices.back();
    }
    bool padAppears() {
        return spinUntil([&] { return livePad().has_value(); }, scaled(5s));
    }
    bool padGoes() {
        return spinUntil(
            [&] {
                const auto devices = sysfs_.uinputDevices();
                return !devices.empty() && devices.back().destroyed;
            },
            scaled(5s));
    }

    // The pad's next frame; empty when none came in time.
    std::string nextFrame(std::chrono::milliseconds wait = scaled(5s)) {
        const auto frameEnd = [&] {
            return std::find_if(unread_.begin(), unread_.end(), [](const input_event &event) {
                return event.type == EV_SYN && event.code == SYN_REPORT;
            });
        };
        spinUntil(
            [&] {
                for (const input_event &event : sysfs_.takeUinputEvents())
                    unread_.push_back(event);
                return frameEnd() != unread_.end();
            },
            wait);
        const auto end = frameEnd();
        if (end == unread_.end())
            return {};
        const std::string frame = described({unread_.begin(), end});
        unread_.erase(unread_.begin(), end + 1);
        return frame;
    }
    // A key pressed on the keyboard and what the pad made of it.
    std::string press(const ControllerSysfs::InputDevice &keyboard, std::uint16_t key,
                      std::int32_t value = 1) {
        EXPECT_TRUE(sysfs_.sendKey(keyboard, key, value)) << sysfs_.error();
        return nextFrame();
    }

    // The log's lines holding `text`.
    int linesWith(const std::string &text) const {
        int count = 0;
        const std::string all = log();
        for (auto at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
            ++count;
        return count;
    }

    // A connect the daemon cannot serve: refused at once, with `why` in one line of its log and
    // no gamepad left behind.
    void expectRefused(const std::string &why) {
        const ConnectOutcome outcome = connectKeyboard();
        EXPECT_FALSE(outcome.acknowledged) << log();
        EXPECT_LT(outcome.took, scaled(5s));
        EXPECT_TRUE(daemon_.waitForLog("connect refused: " + why)) << log();
        EXPECT_EQ(linesWith(why), 1) << log();
        EXPECT_FALSE(connected());
        EXPECT_FALSE(livePad());
        EXPECT_EQ(sysfs_.uinputProblems(), std::vector<std::string>{});
    }

    std::vector<input_event> unread_;
};

} // namespace

TEST_F(KeyboardGamepadProcess, AConnectMakesTheXpadLikePadThatTheKeysPlay) {
    addUinput();
    const auto keyboard = addKeyboard();
    start();
    const ConnectOutcome outcome = connectKeyboard();
    ASSERT_TRUE(outcome.acknowledged) << log();
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRControllerDetectedNotification}));
    EXPECT_TRUE(connected());

    const auto pad = livePad();
    ASSERT_TRUE(pad) << log();
    EXPECT_EQ(pad->name, "Nimbrel Keyboard Gamepad");
    EXPECT_EQ(pad->id.bustype, BUS_USB);
    EXPECT_EQ(pad->id.vendor, 0x045e);
    EXPECT_EQ(pad->id.product, 0x028e);
    EXPECT_EQ(pad->types, (std::set<unsigned>{EV_SYN, EV_KEY, EV_ABS}));
    EXPECT_EQ(pad->codes.at(EV_KEY),
              (std::set<unsigned>{BTN_A, BTN_B, BTN_X, BTN_Y, BTN_TL, BTN_TR, BTN_SELECT, BTN_START,
                                  BTN_MODE, BTN_THUMBL, BTN_THUMBR}));
    ASSERT_EQ(pad->axes.size(), 8u);
    for (unsigned stick : {ABS_X, ABS_Y, ABS_RX, ABS_RY}) {
        EXPECT_EQ(pad->axes.at(stick).minimum, -32768) << stick;
        EXPECT_EQ(pad->axes.at(stick).maximum, 32767) << stick;
    }
    for (unsigned trigger : {ABS_Z, ABS_RZ})
        EXPECT_EQ(pad->axes.at(trigger).maximum, 255) << trigger;
    for (unsigned hat : {ABS_HAT0X, ABS_HAT0Y}) {
        EXPECT_EQ(pad->axes.at(hat).minimum, -1) << hat;
        EXPECT_EQ(pad->axes.at(hat).maximum, 1) << hat;
    }
    EXPECT_TRUE(std::filesystem::exists(sysfs_.root() + pad->made.node));
    EXPECT_TRUE(
        daemon_.waitForLog("keyboard gamepad " + pad->made.node + " driven by " + keyboard.node))
        << log();

    EXPECT_EQ(press(keyboard, KEY_W), "ABS_HAT0Y=-1");
    EXPECT_EQ(press(keyboard, KEY_W, 0), "ABS_HAT0Y=0");
    // Q is in no binding: K's frame is the next thing the pad says.
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_Q, 1));
    EXPECT_EQ(press(keyboard, KEY_K), "BTN_A=1");
    EXPECT_EQ(press(keyboard, KEY_ESC), "BTN_START=1");
    EXPECT_EQ(press(keyboard, KEY_K, 0), "BTN_A=0");
    EXPECT_EQ(press(keyboard, KEY_ESC, 0), "BTN_START=0");
    ASSERT_TRUE(sysfs_.sendKey(keyboard, KEY_Q, 0));
    EXPECT_EQ(press(keyboard, KEY_D), "ABS_HAT0X=1");
    EXPECT_EQ(sysfs_.uinputProblems(), std::vector<std::string>{});
}

// The editor writes the keymap into the file as it finds it: the gamepad stays and the next key
// plays the new binding.
TEST_F(KeyboardGamepadProcess, AKeymapStoredWhileConnectedPlaysFromTheNextKey) {
    addUinput();
    const auto keyboard = addKeyboard();
    storePreferences(NBRControllerTypeDualShock4);
    start();
    ASSERT_TRUE(connectKeyboard().acknowledged) << log();
    ASSERT_EQ(press(keyboard, KEY_K), "BTN_A=1");
    ASSERT_EQ(press(keyboard, KEY_K, 0), "BTN_A=0");

    // K (usage 14) now B, and Q (usage 20) A.
    storePreferences(NBRControllerTypeDualShock4, {{"14", std::int64_t(NBRButtonNativeB)},
                                                   {"20", std::int64_t(NBRButtonNativeA)}});
    // The daemon reads the file once its writes settle; until then K plays the old binding.
    const QDeadlineTimer deadline(scaled(5s));
    std::string frame;
    while ((frame = press(keyboard, KEY_K)) == "BTN_A=1" && !deadline.hasExpired())
        press(keyboard, KEY_K, 0);
    EXPECT_EQ(frame, "BTN_B=1") << log();
    EXPECT_EQ(press(keyboard, KEY_Q), "BTN_A=1") << log();
    EXPECT_TRUE(livePad()) << log();
    EXPECT_TRUE(connected());
}

TEST_F(KeyboardGamepadProcess, ADisconnectRemovesThePadWithItsControlsAtRest) {
    addUinput();
    const auto keyboard = addKeyboard();
    start();
    ASSERT_TRUE(connectKeyboard().acknowledged) << log();
    const auto pad = livePad();
    ASSERT_TRUE(pad);
    ASSERT_EQ(press(keyboard, KEY_W), "ABS_HAT0Y=-1");
    ASSERT_EQ(press(keyboard, KEY_K), "BTN_A=1");

    disconnect(NBRControllerTypeKeyboard);
    ASSERT_TRUE(padGoes()) << log();

    std::string released = nextFrame();
    for (std::string more; !(more = nextFrame(scaled(300ms))).empty();)
        released += " " + more;
    EXPECT_EQ(released, "ABS_HAT0Y=0 BTN_A=0") << "keys held as it went come up first";
    EXPECT_FALSE(std::filesystem::exists(sysfs_.root() + pad->made.node));
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRControllerDetectedNotification,
                        NBRDisconnectedNotification}));
    EXPECT_FALSE(connected());
    EXPECT_TRUE(daemon_.waitForLog("keyboard gamepad removed")) << log();
}

// The page has no connect button for the keyboard: choosing it is the connect.
TEST_F(KeyboardGamepadProcess, ChoosingTheKeyboardInTheFileMakesThePadAndAnotherTypeRemovesIt) {
    addUinput();
    const auto keyboard = addKeyboard();
    storePreferences(NBRControllerTypeDualShock4);
    start();
    EXPECT_FALSE(livePad());

    storePreferences(NBRControllerTypeKeyboard);
    ASSERT_TRUE(padAppears()) << log();
    EXPECT_TRUE(posted({NBRControllerDetectedNotification}));
    EXPECT_TRUE(connected());
    EXPECT_EQ(press(keyboard, KEY_S), "ABS_HAT0Y=1");

    storePreferences(NBRControllerTypeDualShock4);
    ASSERT_TRUE(padGoes()) << log();
    EXPECT_TRUE(posted({NBRDisconnectedNotification}));
    EXPECT_FALSE(connected());
}

// Let go by hand, the pad stays gone while the file is written for other things (a keymap).
TEST_F(KeyboardGamepadProcess, APadDisconnectedByHandStaysGoneWhenTheFileIsWrittenAgain) {
    addUinput();
    addKeyboard();
    storePreferences(NBRControllerTypeKeyboard);
    start();
    ASSERT_TRUE(padAppears()) << log();
    disconnect(NBRControllerTypeKeyboard);
    ASSERT_TRUE(padGoes()) << log();
    storePreferences(NBRControllerTypeKeyboard, {{"14", std::int64_t(NBRButtonNativeB)}});
    ASSERT_TRUE(daemon_.waitForLog("preferences read again")) << log();
    EXPECT_FALSE(livePad()) << log();
    EXPECT_FALSE(connected());

    // A connect makes it again, and the daemon's end removes it.
    EXPECT_TRUE(connectKeyboard().acknowledged) << log();
    EXPECT_TRUE(padAppears()) << log();
    EXPECT_EQ(daemon_->stop(SIGTERM), 0);
    EXPECT_TRUE(padGoes()) << log();
}

TEST_F(KeyboardGamepadProcess, WithoutUinputTheConnectIsRefusedSayingToLoadTheModule) {
    if (::access("/dev/uinput", F_OK) == 0)
        GTEST_SKIP() << "the preload passes a /dev node the tree lacks on to the machine's own";
    addKeyboard();
    start();
    expectRefused("/dev/uinput is missing: load the uinput module (modprobe uinput)");
}

TEST_F(KeyboardGamepadProcess, ARefusedUinputIsRefusedNamingTheUdevRule) {
    addUinput();
    ASSERT_TRUE(sysfs_.refuseUinput()) << sysfs_.error();
    addKeyboard();
    start();
    expectRefused("Permission denied opening /dev/uinput: the udev rule "
                  "/lib/udev/rules.d/70-nimbrel-controller.rules gives the user at the seat "
                  "access to it");
    EXPECT_TRUE(sysfs_.uinputDevices().empty());
}

TEST_F(KeyboardGamepadProcess, WithOnlyAMouseTheConnectIsRefusedAndNoPadStays) {
    addUinput();
    ASSERT_FALSE(sysfs_.addMouse("Test Mouse").node.empty()) << sysfs_.error();
    start();
    expectRefused("No keyboard found: no device under /dev/input has letter keys");
    for (const auto &made : sysfs_.uinputDevices())
        EXPECT_TRUE(made.destroyed) << made.made.node;
}
