#include "KeyboardGamepad.h"

#include "KeyboardUsage.h"

#include <linux/input-event-codes.h>

#include <charconv>
#include <string>

namespace controllerd {

GamepadSink::~GamepadSink() = default;

const std::array<std::uint16_t, 11> kGamepadButtons = {
    BTN_A,      BTN_B,    BTN_X,      BTN_Y,      BTN_TL,     BTN_TR,
    BTN_SELECT, BTN_MODE, BTN_START, BTN_THUMBL, BTN_THUMBR,
};

namespace {

// One control of the pad and the natives that move it off rest (0): `low` towards `lowValue`,
// `high` towards `highValue`. Both held is rest again.
struct Control {
    std::uint16_t type, code;
    std::uint8_t low, high;
    std::int32_t lowValue, highValue;
};

constexpr Control kControls[] = {
    {EV_KEY, BTN_A, 0, NBRButtonNativeA, 0, 1},
    {EV_KEY, BTN_B, 0, NBRButtonNativeB, 0, 1},
    {EV_KEY, BTN_X, 0, NBRButtonNativeX, 0, 1},
    {EV_KEY, BTN_Y, 0, NBRButtonNativeY, 0, 1},
    {EV_KEY, BTN_TL, 0, NBRButtonNativeL1, 0, 1},
    {EV_KEY, BTN_TR, 0, NBRButtonNativeR1, 0, 1},
    {EV_KEY, BTN_START, 0, NBRButtonNativePause, 0, 1},
    {EV_ABS, ABS_HAT0X, NBRButtonNativeDpadLeft, NBRButtonNativeDpadRight, -1, 1},
    {EV_ABS, ABS_HAT0Y, NBRButtonNativeDpadUp, NBRButtonNativeDpadDown, -1, 1},
    {EV_ABS, ABS_X, NBRButtonNativeLeftStickLeft, NBRButtonNativeLeftStickRight, kStickMin,
     kStickMax},
    {EV_ABS, ABS_Y, NBRButtonNativeLeftStickUp, NBRButtonNativeLeftStickDown, kStickMin,
     kStickMax},
    {EV_ABS, ABS_RX, NBRButtonNativeRightStickLeft, NBRButtonNativeRightStickRight, kStickMin,
     kStickMax},
    {EV_ABS, ABS_RY, NBRButtonNativeRightStickUp, NBRButtonNativeRightStickDown, kStickMin,
     kStickMax},
    {EV_ABS, ABS_Z, 0, NBRButtonNativeL2, 0, kTriggerMax},
    {EV_ABS, ABS_RZ, 0, NBRButtonNativeR2, 0, kTriggerMax},
};

// By native: its control's index in kControls.
constexpr auto kControlOfNative = [] {
    std::array<std::uint8_t, NBRButtonNativePause + 1> control{};
    for (std::size_t i = 0; i < std::size(kControls); ++i) {
        if (kControls[i].low != 0)
            control[kControls[i].low] = static_cast<std::uint8_t>(i);
        control[kControls[i].high] = static_cast<std::uint8_t>(i);
    }
    return control;
}();

bool isNative(std::int64_t value) {
    return value >= NBRButtonNativeDpadRight && value <= NBRButtonNativePause;
}

// The keys the editor writes: the usage in decimal, nothing else around it.
std::optional<std::uint8_t> usageOfKey(const std::string &key) {
    std::uint8_t usage = 0;
    const char *end = key.data() + key.size();
    // from_chars takes no sign and no space, and fails past 255; a leading zero is not written.
    auto [stop, error] = std::from_chars(key.data(), end, usage);
    if (key.empty() || key[0] == '0' || error != std::errc() || stop != end)
        return std::nullopt;
    return usage;
}

} // namespace

KeyboardKeymap::KeyboardKeymap() {
    for (const NBRKeyBinding &binding : NBRDefaultKeymap)
        controls_[static_cast<std::size_t>(binding.keyCode)] =
            static_cast<std::uint8_t>(binding.control);
}

KeyboardKeymap
KeyboardKeymap::fromPreferences(const std::optional<platform::PlistValue::Dictionary> &file) {
    if (!file)
        return {};
    auto entry = file->find(NBRKeyboardKeymapKey);
    if (entry == file->end() || entry->second.dictionary() == nullptr)
        return {};
    KeyboardKeymap keymap{Empty{}};
    for (const auto &[key, value] : *entry->second.dictionary()) {
        auto usage = usageOfKey(key);
        auto native = value.integerValue();
        if (usage && native && isNative(*native))
            keymap.controls_[*usage] = static_cast<std::uint8_t>(*native);
    }
    return keymap;
}

std::optional<NBRButtonNative> KeyboardKeymap::controlFor(std::int64_t usage) const {
    if (usage < 0 || usage >= std::int64_t(controls_.size()) || controls_[usage] == 0)
        return std::nullopt;
    return static_cast<NBRButtonNative>(controls_[usage]);
}

KeyboardGamepad::KeyboardGamepad(GamepadSink &sink) : sink_(sink) {
    static_assert(std::size(kControls) == kControlCount);
    frame_.reserve(kControlCount);
    setKeymap(KeyboardKeymap());
}

void KeyboardGamepad::setKeymap(KeyboardKeymap keymap) {
    // By evdev code, so a key costs one look-up.
    for (std::size_t code = 0; code < kKeyCodes; ++code)
        keymap_[code] = static_cast<std::uint8_t>(
            keymap.controlFor(platform::keyboardUsageForEvdevCode(std::uint32_t(code))).value_or(
                NBRButtonNative(0)));
}

void KeyboardGamepad::key(std::uint16_t evdevCode, std::int32_t value) {
    if (evdevCode >= kKeyCodes || (value != 0 && value != 1))
        return;
    std::uint8_t &driven = driven_[evdevCode];
    if (value == 1) {
        // A second press without a release (a reader that lost events) counts once.
        if (driven != 0)
            return;
        if (keymap_[evdevCode] == 0)
            return;
        driven = keymap_[evdevCode];
        ++held_[driven];
    } else {
        if (driven == 0)
            return;
        --held_[driven];
    }
    update(kControlOfNative[driven]);
    if (value == 0)
        driven = 0;
    flush();
}

void KeyboardGamepad::releaseAll() {
    driven_.fill(0);
    held_.fill(0);
    for (std::size_t i = 0; i < kControlCount; ++i)
        update(i);
    flush();
}

void KeyboardGamepad::update(std::size_t index) {
    const Control &control = kControls[index];
    const bool low = control.low != 0 && held_[control.low] != 0;
    const bool high = held_[control.high] != 0;
    const std::int32_t value = low == high ? 0 : high ? control.highValue : control.lowValue;
    if (value == written_[index])
        return;
    written_[index] = value;
    frame_.push_back({control.type, control.code, value});
}

void KeyboardGamepad::flush() {
    if (frame_.empty())
        return;
    sink_.write(frame_);
    frame_.clear();
}

} // namespace controllerd
