#pragma once

#include "KeyboardUsage.h"

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

} // namespace platform
