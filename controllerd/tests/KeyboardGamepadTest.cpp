// A keyboard's keys as the pad's frames, against a sink that records them; the keymap as the
// preferences file gives it.
#include "KeyboardGamepad.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <vector>

using controllerd::GamepadEvent;
using controllerd::KeyboardGamepad;
using controllerd::KeyboardKeymap;
using platform::PlistValue;
using Frame = std::vector<GamepadEvent>;

namespace controllerd {
void PrintTo(const GamepadEvent &event, std::ostream *out) {
    *out << "{" << event.type << ", " << event.code << ", " << event.value << "}";
}
} // namespace controllerd

namespace {

struct RecordingSink : controllerd::GamepadSink {
    std::vector<Frame> frames;
    void write(const Frame &frame) override { frames.push_back(frame); }
};

GamepadEvent button(std::uint16_t code, std::int32_t value) {
    return {EV_KEY, code, value};
}
GamepadEvent axis(std::uint16_t code, std::int32_t value) {
    return {EV_ABS, code, value};
}

// A keymap of the given "usage": native entries, as the editor stores it.
KeyboardKeymap keymapOf(PlistValue::Dictionary entries) {
    return KeyboardKeymap::fromPreferences(
        PlistValue::Dictionary{{"NBRKeyboardKeymapKey", PlistValue(std::move(entries))}});
}

class KeyboardGamepadTest : public ::testing::Test {
protected:
    // Each call: the frames written by that key event alone.
    std::vector<Frame> press(int code) { return send(code, 1); }
    std::vector<Frame> release(int code) { return send(code, 0); }
    std::vector<Frame> send(int code, std::int32_t value) {
        sink.frames.clear();
        gamepad.key(static_cast<std::uint16_t>(code), value);
        return sink.frames;
    }
    std::vector<Frame> releaseAll() {
        sink.frames.clear();
        gamepad.releaseAll();
        return sink.frames;
    }

    RecordingSink sink;
    KeyboardGamepad gamepad{sink};
};

using Frames = std::vector<Frame>;

TEST_F(KeyboardGamepadTest, DefaultKeymapDrivesTheHatAndButtonsAndPauseIsStart) {
    struct Case {
        std::uint16_t key;
        GamepadEvent pressed;
    };
    const Case cases[] = {
        {KEY_W, axis(ABS_HAT0Y, -1)},     {KEY_A, axis(ABS_HAT0X, -1)},
        {KEY_S, axis(ABS_HAT0Y, 1)},      {KEY_D, axis(ABS_HAT0X, 1)},
        {KEY_I, button(BTN_Y, 1)},        {KEY_J, button(BTN_X, 1)},
        {KEY_K, button(BTN_A, 1)},        {KEY_L, button(BTN_B, 1)},
        {KEY_2, button(BTN_TL, 1)},       {KEY_8, button(BTN_TR, 1)},
        {KEY_ESC, button(BTN_START, 1)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(press(c.key), Frames{{c.pressed}});
        GamepadEvent rest = c.pressed;
        rest.value = 0;
        EXPECT_EQ(release(c.key), Frames{{rest}});
    }
}

TEST_F(KeyboardGamepadTest, KeysOutsideTheKeymapAndOtherValuesWriteNothing) {
    for (int key : {KEY_Q, KEY_LEFTSHIFT, KEY_F24, KEY_MAX, KEY_CNT, 0xFFFF, 0}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(press(key), Frames{});
        EXPECT_EQ(release(key), Frames{});
    }
    // Only 1 and 0 move a control.
    EXPECT_EQ(send(KEY_K, -1), Frames{});
    EXPECT_EQ(send(KEY_K, 3), Frames{});
    // A release without its press.
    EXPECT_EQ(release(KEY_L), Frames{});
}

TEST_F(KeyboardGamepadTest, AutorepeatAndASecondPressChangeNothing) {
    EXPECT_EQ(press(KEY_K), Frames{{button(BTN_A, 1)}});
    EXPECT_EQ(send(KEY_K, 2), Frames{});
    EXPECT_EQ(send(KEY_K, 2), Frames{});
    EXPECT_EQ(press(KEY_K), Frames{});
    EXPECT_EQ(release(KEY_K), Frames{{button(BTN_A, 0)}});
    EXPECT_EQ(release(KEY_K), Frames{});
    // A key held while it was bound repeats without pressing anything.
    EXPECT_EQ(press(KEY_Q), Frames{});
    gamepad.setKeymap(keymapOf({{"20", 5}}));
    EXPECT_EQ(send(KEY_Q, 2), Frames{});
    EXPECT_EQ(release(KEY_Q), Frames{});
}

TEST_F(KeyboardGamepadTest, SticksAndTriggersGoToTheEndsAndBack) {
    // F G H T: left stick right, left, up, down; arrows: right stick; Z X: triggers.
    gamepad.setKeymap(keymapOf({{"9", 11},
                                {"10", 12},
                                {"11", 13},
                                {"23", 14},
                                {"79", 15},
                                {"80", 16},
                                {"82", 17},
                                {"81", 18},
                                {"29", 19},
                                {"27", 20}}));
    struct Case {
        std::uint16_t key;
        GamepadEvent pressed;
    };
    const Case cases[] = {
        {KEY_F, axis(ABS_X, 32767)},      {KEY_G, axis(ABS_X, -32768)},
        {KEY_H, axis(ABS_Y, -32768)},     {KEY_T, axis(ABS_Y, 32767)},
        {KEY_RIGHT, axis(ABS_RX, 32767)}, {KEY_LEFT, axis(ABS_RX, -32768)},
        {KEY_UP, axis(ABS_RY, -32768)},   {KEY_DOWN, axis(ABS_RY, 32767)},
        {KEY_Z, axis(ABS_Z, 255)},        {KEY_X, axis(ABS_RZ, 255)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(press(c.key), Frames{{c.pressed}});
        GamepadEvent rest = c.pressed;
        rest.value = 0;
        EXPECT_EQ(release(c.key), Frames{{rest}});
    }
}

TEST_F(KeyboardGamepadTest, OppositeKeysCancelAndTheOtherSideComesBack) {
    EXPECT_EQ(press(KEY_A), Frames{{axis(ABS_HAT0X, -1)}});
    EXPECT_EQ(press(KEY_D), Frames{{axis(ABS_HAT0X, 0)}});
    EXPECT_EQ(release(KEY_A), Frames{{axis(ABS_HAT0X, 1)}});
    EXPECT_EQ(release(KEY_D), Frames{{axis(ABS_HAT0X, 0)}});

    gamepad.setKeymap(keymapOf({{"82", 13}, {"81", 14}}));
    EXPECT_EQ(press(KEY_DOWN), Frames{{axis(ABS_Y, 32767)}});
    EXPECT_EQ(press(KEY_UP), Frames{{axis(ABS_Y, 0)}});
    EXPECT_EQ(release(KEY_DOWN), Frames{{axis(ABS_Y, -32768)}});
    EXPECT_EQ(release(KEY_UP), Frames{{axis(ABS_Y, 0)}});
}

TEST_F(KeyboardGamepadTest, TwoKeysOnOneControlHoldItUntilBothAreUp) {
    EXPECT_EQ(press(KEY_K), Frames{{button(BTN_A, 1)}});
    // Q joins K on A while K is held.
    gamepad.setKeymap(keymapOf({{"14", 5}, {"20", 5}}));
    EXPECT_EQ(press(KEY_Q), Frames{});
    EXPECT_EQ(release(KEY_K), Frames{});
    EXPECT_EQ(press(KEY_K), Frames{});
    EXPECT_EQ(release(KEY_Q), Frames{});
    EXPECT_EQ(release(KEY_K), Frames{{button(BTN_A, 0)}});
}

TEST_F(KeyboardGamepadTest, AKeyReleasedAfterAKeymapChangeReleasesWhatItPressed) {
    EXPECT_EQ(press(KEY_K), Frames{{button(BTN_A, 1)}});
    EXPECT_EQ(press(KEY_W), Frames{{axis(ABS_HAT0Y, -1)}});
    // K now drives B, W nothing.
    gamepad.setKeymap(keymapOf({{"14", 6}}));
    EXPECT_EQ(release(KEY_K), Frames{{button(BTN_A, 0)}});
    EXPECT_EQ(release(KEY_W), Frames{{axis(ABS_HAT0Y, 0)}});
    EXPECT_EQ(press(KEY_K), Frames{{button(BTN_B, 1)}});
    EXPECT_EQ(press(KEY_W), Frames{});
    // A key pressed while unbound and bound before its release leaves the pad alone.
    gamepad.setKeymap(KeyboardKeymap());
    EXPECT_EQ(release(KEY_W), Frames{});
    EXPECT_EQ(release(KEY_K), Frames{{button(BTN_B, 0)}});
}

TEST_F(KeyboardGamepadTest, ReleaseAllRestsEveryControlInOneFrame) {
    EXPECT_EQ(releaseAll(), Frames{});
    gamepad.setKeymap(keymapOf({{"14", 5}, {"41", 21}, {"4", 2}, {"9", 11}, {"29", 20}}));
    press(KEY_K);
    press(KEY_ESC);
    press(KEY_A);
    press(KEY_F);
    press(KEY_Z);
    EXPECT_EQ(releaseAll(), (Frames{{button(BTN_A, 0), button(BTN_START, 0), axis(ABS_HAT0X, 0),
                                     axis(ABS_X, 0), axis(ABS_RZ, 0)}}));
    EXPECT_EQ(releaseAll(), Frames{});
    // The keys released later were already let go.
    EXPECT_EQ(release(KEY_K), Frames{});
    EXPECT_EQ(release(KEY_F), Frames{});
    EXPECT_EQ(press(KEY_K), Frames{{button(BTN_A, 1)}});
    EXPECT_EQ(release(KEY_K), Frames{{button(BTN_A, 0)}});
}

// The keymap's reading rules.

TEST(KeyboardKeymapTest, NoKeymapInTheFileIsTheDefault) {
    using Dictionary = PlistValue::Dictionary;
    const std::optional<Dictionary> files[] = {
        std::nullopt,
        Dictionary{},
        Dictionary{{"ControllerType", 6}},
        Dictionary{{"NBRKeyboardKeymapKey", "14"}},
        Dictionary{{"NBRKeyboardKeymapKey", PlistValue::Array{PlistValue(5)}}},
        Dictionary{{"NBRKeyboardKeymapKey", 5}},
    };
    for (std::size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(i);
        const auto keymap = KeyboardKeymap::fromPreferences(files[i]);
        for (const NBRKeyBinding &binding : NBRDefaultKeymap)
            EXPECT_EQ(keymap.controlFor(binding.keyCode), binding.control) << binding.keyCode;
        EXPECT_EQ(keymap.controlFor(20), std::nullopt);
    }
}

TEST(KeyboardKeymapTest, BadKeysAndValuesAreSkippedTheRestKept) {
    const auto keymap = keymapOf({
        {"4", 5},
        {"255", 21},
        {"1", 1},
        // Keys that are no usage.
        {"0", 6},
        {"256", 6},
        {"-5", 6},
        {"+6", 6},
        {"07", 6},
        {" 8", 6},
        {"9 ", 6},
        {"1e1", 6},
        {"", 6},
        {"Escape", 6},
        {"99999999999999999999", 6},
        // Values that are no native.
        {"11", 0},
        {"12", 22},
        {"13", -1},
        {"15", "A"},
        {"16", PlistValue::Data{5}},
        {"17", PlistValue::Dictionary{{"native", 5}}},
        {"18", PlistValue::Array{PlistValue(5)}},
        {"19", 4294967301LL},
    });
    EXPECT_EQ(keymap.controlFor(4), NBRButtonNativeA);
    EXPECT_EQ(keymap.controlFor(255), NBRButtonNativePause);
    EXPECT_EQ(keymap.controlFor(1), NBRButtonNativeDpadRight);
    for (std::int64_t usage : {0, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 16, 17, 18, 19, 256, -1})
        EXPECT_EQ(keymap.controlFor(usage), std::nullopt) << usage;
    // The file's keymap replaces the default one.
    EXPECT_EQ(keymap.controlFor(26), std::nullopt);
}

TEST(KeyboardKeymapTest, NumbersStoredAsTextOrRealsCount) {
    const auto keymap = keymapOf({{"4", "7"}, {"5", 20.0}, {"6", "21"}, {"7", 9.7}});
    EXPECT_EQ(keymap.controlFor(4), NBRButtonNativeX);
    EXPECT_EQ(keymap.controlFor(5), NBRButtonNativeR2);
    EXPECT_EQ(keymap.controlFor(6), NBRButtonNativePause);
    EXPECT_EQ(keymap.controlFor(7), NBRButtonNativeL1);
}

TEST(KeyboardKeymapTest, AnEmptyKeymapDrivesNothing) {
    const auto keymap = keymapOf({});
    for (std::int64_t usage = 0; usage < 256; ++usage)
        EXPECT_EQ(keymap.controlFor(usage), std::nullopt) << usage;
}

} // namespace
