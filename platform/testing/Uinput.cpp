// /dev/uinput in the testbed: its ioctls are answered here, on umockdev's ioctl thread, as the
// kernel's uinput answers them, and a device it is asked to create becomes an evdev device of
// the tree (ControllerSysfs's event nodes) until it is destroyed.
#include "EvdevNodes.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <linux/uinput.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

// The shared precompiled header brings Qt's `signals` keyword, a field name in GLib's headers.
#undef signals
#include <umockdev.h>

namespace platform::testing {

struct ControllerSysfs::Uinput {
    std::mutex lock;
    ControllerSysfs *owner = nullptr; // null once the tree goes
    // The last one is being set up until UI_DEV_CREATE makes it.
    std::vector<UinputDevice> devices;
    std::vector<std::string> problems;

    UinputDevice &settingUp() {
        if (devices.empty() || !devices.back().made.node.empty() || devices.back().destroyed)
            devices.emplace_back();
        return devices.back();
    }
    UinputDevice *live() {
        for (auto device = devices.rbegin(); device != devices.rend(); ++device)
            if (!device->made.node.empty() && !device->destroyed)
                return &*device;
        return nullptr;
    }
    // Made only by the owner, which alone may change the tree.
    bool make(UinputDevice &device);
    void destroy(UinputDevice &device);
};

bool ControllerSysfs::Uinput::make(UinputDevice &device) {
    EvdevNode state;
    state.name = device.name;
    state.id = device.id;
    state.codes[EV_SYN] = {SYN_REPORT};
    for (unsigned type : device.types) {
        const auto codes = device.codes.find(type);
        if (codes != device.codes.end())
            state.codes[type].assign(codes->second.begin(), codes->second.end());
        else
            state.codes[type];
    }
    state.axes = device.axes;
    const auto &keys = state.codes[EV_KEY];
    const bool gamepad = std::find(keys.begin(), keys.end(), BTN_GAMEPAD) != keys.end();
    std::lock_guard tree(owner->tree_);
    device.made = owner->addEvdevDevice(state, gamepad ? "ID_INPUT_JOYSTICK" : "ID_INPUT");
    if (device.made.node.empty()) {
        problems.push_back("UI_DEV_CREATE: " + owner->error_);
        return false;
    }
    return true;
}

void ControllerSysfs::Uinput::destroy(UinputDevice &device) {
    owner->removeInputDevice(device.made);
    device.destroyed = true;
}

namespace {

using Uinput = ControllerSysfs::Uinput;
using UinputDevice = ControllerSysfs::UinputDevice;

constexpr int kPropertyBits = EV_CNT; // UI_SET_PROPBIT's, beside the event types

// A UI_SET_*BIT request's event type: 0 for UI_SET_EVBIT, kPropertyBits for UI_SET_PROPBIT, -1
// for any other request.
int typeSetBy(unsigned long request) {
    switch (request) {
    case UI_SET_EVBIT:
        return 0;
    case UI_SET_KEYBIT:
        return EV_KEY;
    case UI_SET_RELBIT:
        return EV_REL;
    case UI_SET_ABSBIT:
        return EV_ABS;
    case UI_SET_MSCBIT:
        return EV_MSC;
    case UI_SET_LEDBIT:
        return EV_LED;
    case UI_SET_SNDBIT:
        return EV_SND;
    case UI_SET_FFBIT:
        return EV_FF;
    case UI_SET_SWBIT:
        return EV_SW;
    case UI_SET_PROPBIT:
        return kPropertyBits;
    default:
        return -1;
    }
}

unsigned highestCode(int type) {
    switch (type) {
    case 0:
        return EV_MAX;
    case EV_KEY:
        return KEY_MAX;
    case EV_REL:
        return REL_MAX;
    case EV_ABS:
        return ABS_MAX;
    case EV_MSC:
        return MSC_MAX;
    case EV_LED:
        return LED_MAX;
    case EV_SND:
        return SND_MAX;
    case EV_FF:
        return FF_MAX;
    case EV_SW:
        return SW_MAX;
    default:
        return INPUT_PROP_MAX;
    }
}

// The argument itself (the UI_SET_*BIT requests pass a value, not a pointer).
unsigned long valueArgument(UMockdevIoctlClient *client) {
    unsigned long value = 0;
    std::memcpy(&value, umockdev_ioctl_client_get_arg(client)->data, sizeof value);
    return value;
}

// The `size` bytes the argument points to; false (the ioctl failed) when they cannot be read.
bool readArgument(UMockdevIoctlClient *client, void *into, std::size_t size) {
    UMockdevIoctlData *data = ioctlArgument(client, size);
    if (data == nullptr)
        return false;
    std::memcpy(into, data->data, size);
    g_object_unref(data);
    return true;
}

gboolean answerUinputIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer shared) {
    Uinput &uinput = **static_cast<std::shared_ptr<Uinput> *>(shared);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    const auto done = [client](long result, int error = 0) {
        umockdev_ioctl_client_complete(client, result, error);
        return TRUE;
    };
    // Not a terminal, whatever umockdev puts behind the node.
    if (_IOC_TYPE(request) != UINPUT_IOCTL_BASE)
        return done(-1, ENOTTY);
    std::lock_guard hold(uinput.lock);
    if (uinput.owner == nullptr)
        return done(-1, ENODEV);

    if (request == UI_GET_VERSION) {
        const unsigned version = UINPUT_VERSION;
        replyToIoctl(client, sizeof version, &version, sizeof version, 0);
        return TRUE;
    }
    if (const int type = typeSetBy(request); type >= 0) {
        UinputDevice &device = uinput.settingUp();
        const unsigned long code = valueArgument(client);
        if (code > highestCode(type))
            return done(-1, EINVAL);
        if (type == 0)
            device.types.insert(static_cast<unsigned>(code));
        else if (type == kPropertyBits)
            device.properties.insert(static_cast<unsigned>(code));
        else
            device.codes[static_cast<unsigned>(type)].insert(static_cast<unsigned>(code));
        return done(0);
    }
    if (request == UI_DEV_SETUP) {
        uinput_setup setup{};
        if (!readArgument(client, &setup, sizeof setup))
            return TRUE;
        UinputDevice &device = uinput.settingUp();
        device.name.assign(setup.name, strnlen(setup.name, sizeof setup.name));
        device.id = setup.id;
        return done(0);
    }
    if (request == UI_ABS_SETUP) {
        uinput_abs_setup setup{};
        if (!readArgument(client, &setup, sizeof setup))
            return TRUE;
        const input_absinfo &range = setup.absinfo;
        if (setup.code > ABS_MAX || range.minimum > range.maximum ||
            range.flat > std::int64_t(range.maximum) - range.minimum)
            return done(-1, EINVAL);
        UinputDevice &device = uinput.settingUp();
        device.axes[setup.code] = range;
        device.codes[EV_ABS].insert(setup.code);
        return done(0);
    }
    if (request == UI_DEV_CREATE) {
        UinputDevice &device = uinput.settingUp();
        if (device.name.empty())
            return done(-1, EINVAL); // uinput wants UI_DEV_SETUP first
        return uinput.make(device) ? done(0) : done(-1, ENOMEM);
    }
    if (_IOC_DIR(request) == _IOC_READ && _IOC_NR(request) == _IOC_NR(UI_GET_SYSNAME(0))) {
        const UinputDevice *device = uinput.live();
        if (device == nullptr)
            return done(-1, ENOENT);
        const std::string name = device->made.path.substr(device->made.path.rfind('/') + 1);
        const std::size_t size = _IOC_SIZE(request);
        if (size < name.size() + 1)
            return done(-1, ENOENT);
        replyToIoctl(client, size, name.c_str(), name.size() + 1, long(name.size() + 1));
        return TRUE;
    }
    if (request == UI_DEV_DESTROY) {
        if (UinputDevice *device = uinput.live())
            uinput.destroy(*device);
        return done(0);
    }
    char named[64];
    std::snprintf(named, sizeof named, "ioctl 0x%lx not answered", request);
    uinput.problems.emplace_back(named);
    return done(-1, EINVAL);
}

} // namespace

bool ControllerSysfs::addUinput() {
    std::lock_guard tree(tree_);
    if (bed_ == nullptr)
        return false;
    if (uinput_) {
        error_ = "/dev/uinput is there already";
        return false;
    }
    uinput_ = std::make_shared<Uinput>();
    uinput_->owner = this;
    uinputIoctls_ = umockdev_ioctl_base_new();
    g_signal_connect_data(
        uinputIoctls_, "handle-ioctl", G_CALLBACK(answerUinputIoctl),
        new std::shared_ptr<Uinput>(uinput_),
        [](gpointer shared, GClosure *) { delete static_cast<std::shared_ptr<Uinput> *>(shared); },
        GConnectFlags(0));
    GError *failure = nullptr;
    if (!umockdev_testbed_attach_ioctl(bed_, "/dev/uinput", uinputIoctls_, &failure)) {
        error_ = std::string("umockdev would not answer the ioctls of /dev/uinput: ") +
                 (failure ? failure->message : "?");
        if (failure)
            g_error_free(failure);
        return false;
    }
    if (!add("P: /devices/virtual/misc/uinput\nN: uinput\nE: SUBSYSTEM=misc\n"
             "E: DEVNAME=/dev/uinput\nA: dev=10:223\n"))
        return false;
    uinputMaster_ = umockdev_testbed_get_dev_fd(bed_, "/dev/uinput");
    if (uinputMaster_ < 0) {
        error_ = "umockdev gave no other end of /dev/uinput";
        return false;
    }
    // Events are binary: the PTY must neither translate nor echo them.
    termios mode{};
    if (::tcgetattr(uinputMaster_, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(uinputMaster_, TCSANOW, &mode);
    }
    return true;
}

void ControllerSysfs::closeUinput() {
    if (uinput_) {
        std::lock_guard hold(uinput_->lock);
        uinput_->owner = nullptr;
    }
    if (uinputMaster_ >= 0)
        ::close(uinputMaster_);
    uinputMaster_ = -1;
}

bool ControllerSysfs::refuseUinput() {
    // The node is a link to the PTY, whose mode is the one that counts.
    const std::string file = root_ + "/dev/uinput";
    if (::chmod(file.c_str(), 0) == 0)
        return true;
    error_ = file + ": " + std::strerror(errno);
    return false;
}

std::vector<ControllerSysfs::UinputDevice> ControllerSysfs::uinputDevices() const {
    if (!uinput_)
        return {};
    std::lock_guard hold(uinput_->lock);
    return uinput_->devices;
}

std::vector<std::string> ControllerSysfs::uinputProblems() const {
    if (!uinput_)
        return {};
    std::lock_guard hold(uinput_->lock);
    return uinput_->problems;
}

std::vector<input_event> ControllerSysfs::takeUinputEvents() {
    if (uinputMaster_ >= 0) {
        pollfd ready{uinputMaster_, POLLIN, 0};
        char buffer[4096];
        ssize_t n;
        while (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN) &&
               (n = ::read(uinputMaster_, buffer, sizeof buffer)) > 0)
            uinputBytes_.append(buffer, static_cast<std::size_t>(n));
    }
    std::vector<input_event> events(uinputBytes_.size() / sizeof(input_event));
    if (!events.empty())
        std::memcpy(events.data(), uinputBytes_.data(), events.size() * sizeof(input_event));
    uinputBytes_.erase(0, events.size() * sizeof(input_event));
    return events;
}

} // namespace platform::testing
