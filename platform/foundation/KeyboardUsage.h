#pragma once

#include <array>
#include <cstdint>

namespace platform {

// Keys by their usage ID on the USB HID Keyboard/Keypad page (4 is A, 40 Return, 224 Left
// Control), as the system's keyboard events and the stored keymap name them, and by the Linux
// evdev code the kernel gives the same key.

// Header only: the UIKit stand-in (a shared library) and the controller daemon both use it
// without linking the other's libraries.
namespace keyboard_usage_detail {

inline constexpr std::uint8_t kNone = 0;

// The kernel's table from HID usage (the index) to evdev code (drivers/hid/hid-input.c).
inline constexpr std::array<std::uint8_t, 256> kEvdevForUsage = {
    0,   0,   0,   0,   30,  48,  46,  32,  18,  33,  34,  35,  23,  36,  37,  38,  //
    50,  49,  24,  25,  16,  19,  31,  20,  22,  47,  17,  45,  21,  44,  2,   3,   //
    4,   5,   6,   7,   8,   9,   10,  11,  28,  1,   14,  15,  57,  12,  13,  26,  //
    27,  43,  43,  39,  40,  41,  51,  52,  53,  58,  59,  60,  61,  62,  63,  64,  //
    65,  66,  67,  68,  87,  88,  99,  70,  119, 110, 102, 104, 111, 107, 109, 106, //
    105, 108, 103, 69,  98,  55,  74,  78,  96,  79,  80,  81,  75,  76,  77,  71,  //
    72,  73,  82,  83,  86,  127, 116, 117, 183, 184, 185, 186, 187, 188, 189, 190, //
    191, 192, 193, 194, 134, 138, 130, 132, 128, 129, 131, 137, 133, 135, 136, 113, //
    115, 114, 0,   0,   0,   121, 0,   89,  93,  124, 92,  94,  95,  0,   0,   0,   //
    122, 123, 90,  91,  85,  0,   0,   0,   0,   0,   0,   0,   111, 0,   0,   0,   //
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   //
    0,   0,   0,   0,   0,   0,   179, 180, 0,   0,   0,   0,   0,   0,   0,   0,   //
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   //
    0,   0,   0,   0,   0,   0,   0,   0,   111, 0,   0,   0,   0,   0,   0,   0,   //
    29,  42,  56,  125, 97,  54,  100, 126, 164, 166, 165, 163, 161, 115, 114, 113, //
    150, 158, 159, 128, 136, 177, 178, 176, 142, 152, 173, 140, 0,   0,   0,   0,   //
};

// Its inverse. Where two usages give one code, the lower usage is the key's own (the usage of
// the non-US backslash key and the media duplicates come later in the table).
inline constexpr std::array<std::uint8_t, 256> kUsageForEvdev = [] {
    std::array<std::uint8_t, 256> usage{};
    for (std::size_t u = 0; u < kEvdevForUsage.size(); ++u)
        if (kEvdevForUsage[u] != kNone && usage[kEvdevForUsage[u]] == 0)
            usage[kEvdevForUsage[u]] = static_cast<std::uint8_t>(u);
    return usage;
}();

} // namespace keyboard_usage_detail

// The usage for a Linux evdev key code, by the kernel's HID keyboard table; 0 when none.
inline std::int64_t keyboardUsageForEvdevCode(std::uint32_t code) {
    using keyboard_usage_detail::kUsageForEvdev;
    return code < kUsageForEvdev.size() ? kUsageForEvdev[code] : 0;
}

// The evdev key code of a usage; 0 when none.
inline std::uint32_t evdevCodeForKeyboardUsage(std::int64_t usage) {
    using keyboard_usage_detail::kEvdevForUsage;
    return usage > 0 && usage < std::int64_t(kEvdevForUsage.size()) ? kEvdevForUsage[usage] : 0;
}

} // namespace platform
