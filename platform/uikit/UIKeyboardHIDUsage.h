#pragma once

#include <cstdint>

class QKeyEvent;

namespace platform {

// The key's usage ID on the USB HID Keyboard/Keypad page (4 is A, 40 Return, 224 Left Control),
// 0 when the key has none there.
//
// An xkb key code (X11 and Wayland: the evdev code + 8) in the event's native scan code wins;
// without one (the offscreen platform, synthesised events) the usage comes from Qt's key and its
// keypad modifier, as on a US layout, with the left-hand modifier keys.
std::int64_t keyboardUsageForKeyEvent(const QKeyEvent &event);

// The usage for a Linux evdev key code, by the kernel's HID keyboard table; 0 when none.
std::int64_t keyboardUsageForEvdevCode(std::uint32_t code);
// The evdev key code of a usage; 0 when none.
std::uint32_t evdevCodeForKeyboardUsage(std::int64_t usage);

} // namespace platform
