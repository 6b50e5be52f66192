#pragma once

#include "NBRConstants.h"
#include "PlistValue.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// A keyboard played as a gamepad (controller type 6): each key the keymap names drives one
// control of a pad laid out as the kernel's xpad driver presents an Xbox 360 pad, the layout
// games' controller databases know best.

namespace controllerd {

// One evdev event for the pad (EV_KEY or EV_ABS).
struct GamepadEvent {
    std::uint16_t type, code;
    std::int32_t value;

    bool operator==(const GamepadEvent &) const = default;
};

// Where the pad's frames go. A frame is the events of one change; the sink ends it with
// SYN_REPORT.
class GamepadSink {
public:
    virtual ~GamepadSink();
    virtual void write(const std::vector<GamepadEvent> &frame) = 0;
};

// "NBRKeyboardKeymapKey": key (USB HID keyboard usage) to button native.
class KeyboardKeymap {
public:
    // NBRDefaultKeymap.
    KeyboardKeymap();

    // The keymap the preferences file holds: the default when there is no file, no entry or an
    // entry that is not a dictionary; entries whose key is not a usage or whose value is not a
    // native are skipped.
    static KeyboardKeymap fromPreferences(const std::optional<platform::PlistValue::Dictionary> &file);

    std::optional<NBRButtonNative> controlFor(std::int64_t usage) const;

private:
    struct Empty {};
    explicit KeyboardKeymap(Empty) {}

    std::array<std::uint8_t, 256> controls_{}; // by usage; 0 for none
};

// The pad's identity, as xpad gives it.
inline constexpr std::uint16_t kGamepadVendor = 0x045E;
inline constexpr std::uint16_t kGamepadProduct = 0x028E;
inline constexpr std::uint16_t kGamepadVersion = 0x0114;
inline constexpr std::int32_t kStickMin = -32768;
inline constexpr std::int32_t kStickMax = 32767;
inline constexpr std::int32_t kTriggerMax = 255;

// Every button code the pad has, the ones no native drives included.
extern const std::array<std::uint16_t, 11> kGamepadButtons;

class KeyboardGamepad {
public:
    // Plays NBRDefaultKeymap until given another.
    explicit KeyboardGamepad(GamepadSink &sink);

    // Keys held now keep what they drove until they are released.
    void setKeymap(KeyboardKeymap keymap);

    // One EV_KEY event of the keyboard: 1 press, 0 release, 2 autorepeat (ignored).
    void key(std::uint16_t evdevCode, std::int32_t value);

    // Every control back at rest, as if every key were released.
    void releaseAll();

private:
    static constexpr std::size_t kKeyCodes = 0x300; // KEY_CNT
    static constexpr std::size_t kNatives = NBRButtonNativePause + 1;
    static constexpr std::size_t kControlCount = 15;

    void update(std::size_t control);
    void flush();

    GamepadSink &sink_;
    std::array<std::uint8_t, kKeyCodes> keymap_{};   // by evdev code: the native it drives
    std::array<std::uint8_t, kKeyCodes> driven_{};   // by evdev code: the native its press drove
    std::array<std::uint16_t, kNatives> held_{};     // by native: how many keys hold it
    std::array<std::int32_t, kControlCount> written_{};  // by control: the value last sent
    std::vector<GamepadEvent> frame_;
};

} // namespace controllerd
