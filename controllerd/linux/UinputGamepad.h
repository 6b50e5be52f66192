#pragma once

#include "KeyboardGamepad.h"

#include <linux/input.h>

#include <memory>
#include <string>

struct libevdev_uinput;

// The pad as a kernel input device games find under /dev/input, made through /dev/uinput.

namespace controllerd {

inline constexpr const char *kGamepadName = "Nimbrel Keyboard Gamepad";
inline constexpr const char *kUinputNode = "/dev/uinput";

class UinputGamepad : public GamepadSink {
public:
    // Null, with one line a user can act on in `error`, when the device cannot be made.
    static std::unique_ptr<UinputGamepad> create(std::string &error);
    static std::unique_ptr<UinputGamepad> create(const std::string &uinputNode,
                                                 std::string &error);

    // Removes the device.
    ~UinputGamepad() override;
    UinputGamepad(const UinputGamepad &) = delete;
    UinputGamepad &operator=(const UinputGamepad &) = delete;

    void write(const std::vector<GamepadEvent> &frame) override;

    // /dev/input/eventN, or empty when the kernel's name for it cannot be found.
    std::string devnode() const;

    // errno of the first frame that could not be written; 0 while all were.
    int writeError() const { return writeError_; }

private:
    UinputGamepad(int fd, libevdev_uinput *device) : fd_(fd), device_(device) {}

    int fd_;
    libevdev_uinput *device_;
    int writeError_ = 0;
    std::vector<input_event> buffer_;
};

} // namespace controllerd
