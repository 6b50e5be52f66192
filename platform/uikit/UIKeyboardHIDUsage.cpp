#include "UIKeyboardHIDUsage.h"

#include <QKeyEvent>
#include <array>

namespace platform {

namespace {

constexpr std::uint8_t kNone = 0;

// The kernel's table from HID usage (the index) to evdev code (drivers/hid/hid-input.c).
constexpr std::array<std::uint8_t, 256> kEvdevForUsage = {
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
constexpr std::array<std::uint8_t, 256> kUsageForEvdev = [] {
    std::array<std::uint8_t, 256> usage{};
    for (std::size_t u = 0; u < kEvdevForUsage.size(); ++u)
        if (kEvdevForUsage[u] != kNone && usage[kEvdevForUsage[u]] == 0)
            usage[kEvdevForUsage[u]] = static_cast<std::uint8_t>(u);
    return usage;
}();

constexpr std::uint32_t kXkbOffset = 8;

std::int64_t keypadUsage(int key) {
    switch (key) {
    case Qt::Key_Slash:
        return 84;
    case Qt::Key_Asterisk:
        return 85;
    case Qt::Key_Minus:
        return 86;
    case Qt::Key_Plus:
        return 87;
    case Qt::Key_Enter:
    case Qt::Key_Return:
        return 88;
    case Qt::Key_0:
        return 98;
    case Qt::Key_Period:
    case Qt::Key_Comma:
        return 99;
    case Qt::Key_Equal:
        return 103;
    default:
        return key >= Qt::Key_1 && key <= Qt::Key_9 ? 89 + (key - Qt::Key_1) : 0;
    }
}

std::int64_t usageForQtKey(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 4 + (key - Qt::Key_A);
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return 30 + (key - Qt::Key_1);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return 58 + (key - Qt::Key_F1);
    if (key >= Qt::Key_F13 && key <= Qt::Key_F24)
        return 104 + (key - Qt::Key_F13);
    switch (key) {
    case Qt::Key_0:
        return 39;
    case Qt::Key_Return:
        return 40;
    case Qt::Key_Enter:
        return 88;
    case Qt::Key_Escape:
        return 41;
    case Qt::Key_Backspace:
        return 42;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return 43;
    case Qt::Key_Space:
        return 44;
    // The shifted symbols share their key with the unshifted one (a US layout).
    case Qt::Key_Exclam:
        return 30;
    case Qt::Key_At:
        return 31;
    case Qt::Key_NumberSign:
        return 32;
    case Qt::Key_Dollar:
        return 33;
    case Qt::Key_Percent:
        return 34;
    case Qt::Key_AsciiCircum:
        return 35;
    case Qt::Key_Ampersand:
        return 36;
    case Qt::Key_Asterisk:
        return 37;
    case Qt::Key_ParenLeft:
        return 38;
    case Qt::Key_ParenRight:
        return 39;
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return 45;
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return 46;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return 47;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return 48;
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return 49;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return 51;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return 52;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return 53;
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return 54;
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return 55;
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return 56;
    case Qt::Key_CapsLock:
        return 57;
    case Qt::Key_Print:
    case Qt::Key_SysReq:
        return 70;
    case Qt::Key_ScrollLock:
        return 71;
    case Qt::Key_Pause:
        return 72;
    case Qt::Key_Insert:
        return 73;
    case Qt::Key_Home:
        return 74;
    case Qt::Key_PageUp:
        return 75;
    case Qt::Key_Delete:
        return 76;
    case Qt::Key_End:
        return 77;
    case Qt::Key_PageDown:
        return 78;
    case Qt::Key_Right:
        return 79;
    case Qt::Key_Left:
        return 80;
    case Qt::Key_Down:
        return 81;
    case Qt::Key_Up:
        return 82;
    case Qt::Key_NumLock:
        return 83;
    case Qt::Key_Menu:
        return 101;
    case Qt::Key_Control:
        return 224;
    case Qt::Key_Shift:
        return 225;
    case Qt::Key_Alt:
        return 226;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return 227;
    case Qt::Key_AltGr:
        return 230;
    case Qt::Key_Super_R:
        return 231;
    default:
        return 0;
    }
}

} // namespace

std::int64_t keyboardUsageForEvdevCode(std::uint32_t code) {
    return code < kUsageForEvdev.size() ? kUsageForEvdev[code] : 0;
}

std::uint32_t evdevCodeForKeyboardUsage(std::int64_t usage) {
    return usage > 0 && usage < std::int64_t(kEvdevForUsage.size()) ? kEvdevForUsage[usage] : 0;
}

std::int64_t keyboardUsageForKeyEvent(const QKeyEvent &event) {
    if (const quint32 scanCode = event.nativeScanCode(); scanCode > kXkbOffset)
        if (const std::int64_t usage = keyboardUsageForEvdevCode(scanCode - kXkbOffset))
            return usage;
    const int key = event.key();
    if (event.modifiers().testFlag(Qt::KeypadModifier))
        if (const std::int64_t usage = keypadUsage(key))
            return usage;
    return usageForQtKey(key);
}

} // namespace platform
