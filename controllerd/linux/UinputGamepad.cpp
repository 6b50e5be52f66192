#include "UinputGamepad.h"

#include "LightBar.h"

#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace controllerd {

namespace {

struct EvdevDeleter {
    void operator()(libevdev *device) const { libevdev_free(device); }
};

std::unique_ptr<libevdev, EvdevDeleter> describeGamepad() {
    std::unique_ptr<libevdev, EvdevDeleter> device(libevdev_new());
    if (!device)
        return nullptr;
    libevdev *d = device.get();
    libevdev_set_name(d, kGamepadName);
    libevdev_set_id_bustype(d, BUS_USB);
    libevdev_set_id_vendor(d, kGamepadVendor);
    libevdev_set_id_product(d, kGamepadProduct);
    libevdev_set_id_version(d, kGamepadVersion);
    for (std::uint16_t button : kGamepadButtons)
        libevdev_enable_event_code(d, EV_KEY, button, nullptr);
    // xpad's ranges: SDL's mapping for this pad expects them.
    const input_absinfo stick{0, kStickMin, kStickMax, 16, 128, 0};
    const input_absinfo trigger{0, 0, kTriggerMax, 0, 0, 0};
    const input_absinfo hat{0, -1, 1, 0, 0, 0};
    for (unsigned axis : {ABS_X, ABS_Y, ABS_RX, ABS_RY})
        libevdev_enable_event_code(d, EV_ABS, axis, &stick);
    for (unsigned axis : {ABS_Z, ABS_RZ})
        libevdev_enable_event_code(d, EV_ABS, axis, &trigger);
    for (unsigned axis : {ABS_HAT0X, ABS_HAT0Y})
        libevdev_enable_event_code(d, EV_ABS, axis, &hat);
    return device;
}

std::string failure(int error, const std::string &node) {
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        return node + " is missing: load the uinput module (modprobe uinput) so the keyboard can "
                      "play as a gamepad";
    if (error == EACCES || error == EPERM)
        return "Permission denied opening " + node + ": the udev rule " + kControllerUdevRule +
               " gives the user at the seat access to it; install it, then run "
               "\"udevadm trigger --name-match=uinput\" or log in again";
    return "Could not create the gamepad on " + node + ": " + std::strerror(error);
}

} // namespace

std::unique_ptr<UinputGamepad> UinputGamepad::create(std::string &error) {
    return create(kUinputNode, error);
}

std::unique_ptr<UinputGamepad> UinputGamepad::create(const std::string &uinputNode,
                                                     std::string &error) {
    auto description = describeGamepad();
    if (!description) {
        error = failure(ENOMEM, uinputNode);
        return nullptr;
    }
    const int fd = ::open(uinputNode.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = failure(errno, uinputNode);
        return nullptr;
    }
    libevdev_uinput *device = nullptr;
    if (int result = libevdev_uinput_create_from_device(description.get(), fd, &device);
        result < 0) {
        ::close(fd);
        error = failure(-result, uinputNode);
        return nullptr;
    }
    error.clear();
    auto pad = std::unique_ptr<UinputGamepad>(new UinputGamepad(fd, device));
    pad->buffer_.reserve(16);
    return pad;
}

UinputGamepad::~UinputGamepad() {
    libevdev_uinput_destroy(device_);
    ::close(fd_);
}

void UinputGamepad::write(const std::vector<GamepadEvent> &frame) {
    // The whole frame in one write(2): uinput takes several events at once, and a key's way to
    // the pad is then one read and one write.
    buffer_.clear();
    for (const GamepadEvent &event : frame)
        buffer_.push_back({{}, event.type, event.code, event.value});
    buffer_.push_back({{}, EV_SYN, SYN_REPORT, 0});
    const std::size_t size = buffer_.size() * sizeof(input_event);
    ssize_t written;
    do
        written = ::write(fd_, buffer_.data(), size);
    while (written < 0 && errno == EINTR);
    // Once in the log: a pad that stopped taking events would otherwise repeat it on every key.
    if (written != ssize_t(size) && writeError_ == 0) {
        writeError_ = written < 0 ? errno : EIO;
        std::fprintf(stderr, "nbr-controllerd: the keyboard's gamepad stopped taking events: %s\n",
                     std::strerror(writeError_));
    }
}

std::string UinputGamepad::devnode() const {
    const char *node = libevdev_uinput_get_devnode(device_);
    return node ? node : "";
}

} // namespace controllerd
