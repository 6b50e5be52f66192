#include "UIKeyboardHIDUsage.h"

#include <QKeyEvent>
#include <algorithm>
#include <iterator>

namespace platform {

namespace {

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

struct KeyUsage {
    int key;
    std::uint8_t usage;
};

// Keys outside the runs of letters, digits and function keys.
constexpr KeyUsage kUsageForKey[] = {
    {Qt::Key_0, 39},
    {Qt::Key_Return, 40},
    {Qt::Key_Enter, 88},
    {Qt::Key_Escape, 41},
    {Qt::Key_Backspace, 42},
    {Qt::Key_Tab, 43},
    {Qt::Key_Backtab, 43},
    {Qt::Key_Space, 44},
    // The shifted symbols share their key with the unshifted one (a US layout).
    {Qt::Key_Exclam, 30},
    {Qt::Key_At, 31},
    {Qt::Key_NumberSign, 32},
    {Qt::Key_Dollar, 33},
    {Qt::Key_Percent, 34},
    {Qt::Key_AsciiCircum, 35},
    {Qt::Key_Ampersand, 36},
    {Qt::Key_Asterisk, 37},
    {Qt::Key_ParenLeft, 38},
    {Qt::Key_ParenRight, 39},
    {Qt::Key_Minus, 45},
    {Qt::Key_Underscore, 45},
    {Qt::Key_Equal, 46},
    {Qt::Key_Plus, 46},
    {Qt::Key_BracketLeft, 47},
    {Qt::Key_BraceLeft, 47},
    {Qt::Key_BracketRight, 48},
    {Qt::Key_BraceRight, 48},
    {Qt::Key_Backslash, 49},
    {Qt::Key_Bar, 49},
    {Qt::Key_Semicolon, 51},
    {Qt::Key_Colon, 51},
    {Qt::Key_Apostrophe, 52},
    {Qt::Key_QuoteDbl, 52},
    {Qt::Key_QuoteLeft, 53},
    {Qt::Key_AsciiTilde, 53},
    {Qt::Key_Comma, 54},
    {Qt::Key_Less, 54},
    {Qt::Key_Period, 55},
    {Qt::Key_Greater, 55},
    {Qt::Key_Slash, 56},
    {Qt::Key_Question, 56},
    {Qt::Key_CapsLock, 57},
    {Qt::Key_Print, 70},
    {Qt::Key_SysReq, 70},
    {Qt::Key_ScrollLock, 71},
    {Qt::Key_Pause, 72},
    {Qt::Key_Insert, 73},
    {Qt::Key_Home, 74},
    {Qt::Key_PageUp, 75},
    {Qt::Key_Delete, 76},
    {Qt::Key_End, 77},
    {Qt::Key_PageDown, 78},
    {Qt::Key_Right, 79},
    {Qt::Key_Left, 80},
    {Qt::Key_Down, 81},
    {Qt::Key_Up, 82},
    {Qt::Key_NumLock, 83},
    {Qt::Key_Menu, 101},
    {Qt::Key_Control, 224},
    {Qt::Key_Shift, 225},
    {Qt::Key_Alt, 226},
    {Qt::Key_Meta, 227},
    {Qt::Key_Super_L, 227},
    {Qt::Key_AltGr, 230},
    {Qt::Key_Super_R, 231},
};

std::int64_t usageForQtKey(int key) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return 4 + (key - Qt::Key_A);
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return 30 + (key - Qt::Key_1);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return 58 + (key - Qt::Key_F1);
    if (key >= Qt::Key_F13 && key <= Qt::Key_F24)
        return 104 + (key - Qt::Key_F13);
    const auto *found = std::find_if(std::begin(kUsageForKey), std::end(kUsageForKey),
                                     [key](const KeyUsage &entry) { return entry.key == key; });
    return found == std::end(kUsageForKey) ? 0 : found->usage;
}

} // namespace

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
