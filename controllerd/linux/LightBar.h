#pragma once

#include "BluetoothAddress.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A DualShock 4's light bar through the kernel: the LED class devices its driver made (hid-sony
// or hid-playstation), or, without them, an output report written to its hidraw node.

enum class LightBarOutcome {
    WrittenToLeds,
    WrittenToHidraw,
    NoController,
    PermissionDenied, // `path` is the file that refused
    IoError,          // `path` is the file that failed
    BadAddress,
};

struct LightBarResult {
    LightBarOutcome outcome = LightBarOutcome::NoController;
    std::string path;    // the file written or refused: an LED's brightness, or /dev/hidrawN
    int error = 0;       // errno of a failure
    std::string message; // one line a user can act on

    bool ok() const {
        return outcome == LightBarOutcome::WrittenToLeds ||
               outcome == LightBarOutcome::WrittenToHidraw;
    }
};

// Where the package installs the rule that lets the user's session write the light bar.
inline constexpr const char *kControllerUdevRule = "/lib/udev/rules.d/70-nimbrel-controller.rules";

LightBarResult setLightBarColor(const BluetoothAddress &address, std::uint8_t red,
                                std::uint8_t green, std::uint8_t blue);

// The light bar of one connection of a controller: the files found for the first colour are
// written again for the next ones (a drag sends many), and looked up afresh only when they are
// gone (the controller reconnected and the kernel made new ones).
class LightBar {
public:
    explicit LightBar(const BluetoothAddress &address) : address_(address) {}
    LightBarResult show(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

    // What the files were found as: LED class devices ("<prefix>:red", …) or a hidraw node.
    struct Target {
        bool leds = false;
        std::string name; // the LEDs' prefix, or /dev/hidrawN
        std::uint16_t bus = 0;
    };

private:
    BluetoothAddress address_;
    std::optional<Target> target_;
};
LightBarResult setLightBarColor(std::string_view address, std::uint8_t red, std::uint8_t green,
                                std::uint8_t blue);
