// Evdev input devices in the testbed: ControllerSysfs's keyboards and mouse. umockdev gives an
// event node a PTY and hands its ioctls to a handler here, on umockdev's own thread, which
// answers them as the kernel's evdev does for a device of these capabilities.
#include "EvdevNodes.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include <dirent.h>
#include <linux/input.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

// The shared precompiled header brings Qt's `signals` keyword, a field name in GLib's headers.
#undef signals
#include <umockdev.h>

namespace platform::testing {

std::string sysfsBitmap(const std::vector<unsigned> &codes) {
    constexpr unsigned kBits = sizeof(unsigned long) * CHAR_BIT;
    unsigned highest = 0;
    for (unsigned code : codes)
        highest = std::max(highest, code);
    std::vector<unsigned long> words(highest / kBits + 1, 0);
    for (unsigned code : codes)
        words[code / kBits] |= 1ul << (code % kBits);
    std::string text;
    for (auto word = words.rbegin(); word != words.rend(); ++word) {
        char hex[24];
        std::snprintf(hex, sizeof hex, "%lx", *word);
        text += (text.empty() ? "" : " ") + std::string(hex);
    }
    return text;
}

namespace {

using Nodes = ControllerSysfs::EvdevNodes;

std::vector<unsigned> keyboardKeys() {
    std::vector<unsigned> keys;
    for (unsigned key = KEY_ESC; key <= KEY_KPDOT; ++key) // the 83 keys of a PC keyboard
        keys.push_back(key);
    for (unsigned key : {KEY_F11, KEY_F12, KEY_KPENTER, KEY_RIGHTCTRL, KEY_KPSLASH, KEY_RIGHTALT,
                         KEY_HOME, KEY_UP, KEY_PAGEUP, KEY_LEFT, KEY_RIGHT, KEY_END, KEY_DOWN,
                         KEY_PAGEDOWN, KEY_INSERT, KEY_DELETE, KEY_LEFTMETA, KEY_RIGHTMETA})
        keys.push_back(key);
    return keys;
}

// A bitmap as the kernel fills it for EVIOCGBIT: bit n in byte n / 8.
std::vector<unsigned char> bitmap(const std::vector<unsigned> &codes, std::size_t size) {
    std::vector<unsigned char> bytes(size, 0);
    for (unsigned code : codes)
        if (code / 8 < size)
            bytes[code / 8] |= static_cast<unsigned char>(1u << (code % 8));
    return bytes;
}

} // namespace

UMockdevIoctlData *ioctlArgument(UMockdevIoctlClient *client, std::size_t size) {
    GError *failure = nullptr;
    UMockdevIoctlData *data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &failure);
    if (data == nullptr) {
        if (failure)
            g_error_free(failure);
        umockdev_ioctl_client_complete(client, -1, EFAULT);
    }
    return data;
}

void replyToIoctl(UMockdevIoctlClient *client, std::size_t size, const void *bytes,
                  std::size_t length, long result) {
    UMockdevIoctlData *data = ioctlArgument(client, size);
    if (data == nullptr)
        return;
    std::memset(data->data, 0, size);
    std::memcpy(data->data, bytes, std::min(size, length));
    g_object_unref(data);
    umockdev_ioctl_client_complete(client, result, 0);
}

namespace {

gboolean answerEvdevIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer shared) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    if (_IOC_TYPE(request) != 'E')
        return FALSE;
    Nodes &evdev = **static_cast<std::shared_ptr<Nodes> *>(shared);
    std::lock_guard hold(evdev.lock);
    const auto found = evdev.nodes.find(umockdev_ioctl_client_get_devnode(client));
    if (found == evdev.nodes.end()) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    Nodes::Node &node = found->second;
    const unsigned number = _IOC_NR(request);
    const std::size_t size = _IOC_SIZE(request);
    const bool reading = _IOC_DIR(request) == _IOC_READ;

    if (request == EVIOCGRAB) {
        // The argument is the value itself, not a pointer.
        unsigned long value = 0;
        std::memcpy(&value, umockdev_ioctl_client_get_arg(client)->data, sizeof value);
        const bool wanted = value != 0;
        if (wanted == node.grabbed) {
            umockdev_ioctl_client_complete(client, -1, wanted ? EBUSY : EINVAL);
            return TRUE;
        }
        node.grabbed = wanted;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
    }
    if (request == EVIOCGVERSION) {
        const int version = EV_VERSION;
        replyToIoctl(client, sizeof version, &version, sizeof version, 0);
        return TRUE;
    }
    if (request == EVIOCGID) {
        replyToIoctl(client, sizeof node.id, &node.id, sizeof node.id, 0);
        return TRUE;
    }
    if (request == EVIOCGREP) {
        const unsigned int repeat[2] = {250, 33};
        replyToIoctl(client, sizeof repeat, repeat, sizeof repeat, 0);
        return TRUE;
    }
    if (reading && number == _IOC_NR(EVIOCGNAME(0))) {
        replyToIoctl(client, size, node.name.c_str(), node.name.size() + 1,
                     static_cast<long>(std::min(size, node.name.size() + 1)));
        return TRUE;
    }
    if (reading && number >= _IOC_NR(EVIOCGBIT(0, 0)) && number <= _IOC_NR(EVIOCGBIT(EV_MAX, 0))) {
        const unsigned type = number - _IOC_NR(EVIOCGBIT(0, 0));
        std::vector<unsigned> codes;
        if (type == 0) {
            for (const auto &entry : node.codes)
                codes.push_back(entry.first);
        } else if (auto of = node.codes.find(type); of != node.codes.end()) {
            codes = of->second;
        }
        const auto bytes = bitmap(codes, size);
        replyToIoctl(client, size, bytes.data(), bytes.size(), static_cast<long>(size));
        return TRUE;
    }
    if (reading && number >= _IOC_NR(EVIOCGABS(0)) && number <= _IOC_NR(EVIOCGABS(ABS_MAX))) {
        input_absinfo info{};
        if (auto axis = node.axes.find(number - _IOC_NR(EVIOCGABS(0))); axis != node.axes.end())
            info = axis->second;
        replyToIoctl(client, size, &info, sizeof info, 0);
        return TRUE;
    }
    if (reading && number == _IOC_NR(EVIOCGKEY(0))) {
        const auto bytes = bitmap({node.down.begin(), node.down.end()}, size);
        replyToIoctl(client, size, bytes.data(), bytes.size(), static_cast<long>(size));
        return TRUE;
    }
    if (reading && (number == _IOC_NR(EVIOCGLED(0)) || number == _IOC_NR(EVIOCGSW(0)) ||
                    number == _IOC_NR(EVIOCGSND(0)) || number == _IOC_NR(EVIOCGPROP(0)))) {
        std::vector<unsigned char> none(size, 0);
        replyToIoctl(client, size, none.data(), none.size(), static_cast<long>(size));
        return TRUE;
    }
    // No physical path or unique id, as a virtual device has none; the rest is not needed.
    umockdev_ioctl_client_complete(
        client, -1,
        number == _IOC_NR(EVIOCGPHYS(0)) || number == _IOC_NR(EVIOCGUNIQ(0)) ? ENOENT : EINVAL);
    return TRUE;
}

} // namespace

ControllerSysfs::InputDevice ControllerSysfs::addKeyboard(const std::string &name) {
    return addInputDevice(name, true);
}

ControllerSysfs::InputDevice ControllerSysfs::addMouse(const std::string &name) {
    return addInputDevice(name, false);
}

ControllerSysfs::InputDevice ControllerSysfs::addInputDevice(const std::string &name,
                                                             bool keyboard) {
    EvdevNodes::Node state;
    state.name = name;
    if (keyboard) {
        state.id = {BUS_USB, 0x046d, 0xc31c, 0x0110};
        state.codes[EV_SYN] = {SYN_REPORT, SYN_DROPPED};
        state.codes[EV_KEY] = keyboardKeys();
        state.codes[EV_MSC] = {MSC_SCAN};
        state.codes[EV_LED] = {LED_NUML, LED_CAPSL, LED_SCROLLL};
        state.codes[EV_REP] = {};
    } else {
        state.id = {BUS_USB, 0x046d, 0xc077, 0x0111};
        state.codes[EV_SYN] = {SYN_REPORT, SYN_DROPPED};
        state.codes[EV_KEY] = {BTN_LEFT};
        state.codes[EV_REL] = {REL_X, REL_Y};
    }
    return addEvdevDevice(state, keyboard ? "ID_INPUT_KEYBOARD" : "ID_INPUT_MOUSE");
}

ControllerSysfs::InputDevice ControllerSysfs::addEvdevDevice(const EvdevNode &state,
                                                             const std::string &udevKind) {
    std::lock_guard tree(tree_);
    if (bed_ == nullptr)
        return {};
    if (!evdev_) {
        evdev_ = std::make_shared<EvdevNodes>();
        evdevIoctls_ = umockdev_ioctl_base_new();
        g_signal_connect_data(
            evdevIoctls_, "handle-ioctl", G_CALLBACK(answerEvdevIoctl),
            new std::shared_ptr<EvdevNodes>(evdev_),
            [](gpointer shared, GClosure *) {
                delete static_cast<std::shared_ptr<EvdevNodes> *>(shared);
            },
            GConnectFlags(0));
    }
    const int number = inputDevices_++;
    const std::string input = "/devices/virtual/input/input" + std::to_string(40 + number);
    const std::string event = "event" + std::to_string(20 + number);
    const std::string node = "/dev/input/" + event;

    std::vector<unsigned> types;
    for (const auto &entry : state.codes)
        types.push_back(entry.first);
    const auto codesOf = [&](unsigned type) {
        const auto of = state.codes.find(type);
        return of == state.codes.end() ? std::string("0") : sysfsBitmap(of->second);
    };
    char id[64];
    std::snprintf(id, sizeof id, "A: id/bustype=%04x\nA: id/vendor=%04x\nA: id/product=%04x\n",
                  state.id.bustype, state.id.vendor, state.id.product);

    // The device with its capabilities first and the handler ready before the node appears:
    // a reader watching /dev/input may open it at once.
    if (!add("P: " + input + "\nE: SUBSYSTEM=input\nE: NAME=\"" + state.name +
             "\"\nE: " + udevKind + "=1\nA: name=" + state.name + "\n" + id +
             "A: capabilities/ev=" + sysfsBitmap(types) + "\nA: capabilities/key=" +
             codesOf(EV_KEY) + "\nA: capabilities/rel=" + codesOf(EV_REL) +
             "\nA: capabilities/abs=" + codesOf(EV_ABS) + "\n"))
        return {};
    {
        std::lock_guard hold(evdev_->lock);
        evdev_->nodes[node] = state;
    }
    GError *failure = nullptr;
    if (!umockdev_testbed_attach_ioctl(bed_, node.c_str(), evdevIoctls_, &failure)) {
        error_ = "umockdev would not answer the ioctls of " + node + ": " +
                 (failure ? failure->message : "?");
        if (failure)
            g_error_free(failure);
        return {};
    }
    if (!add("P: " + input + "/" + event + "\nN: input/" + event +
             "\nE: SUBSYSTEM=input\nE: DEVNAME=" + node +
             "\nA: dev=13:" + std::to_string(64 + 20 + number) + "\n"))
        return {};
    const int master = umockdev_testbed_get_dev_fd(bed_, node.c_str());
    if (master < 0) {
        error_ = "umockdev gave no other end of " + node;
        return {};
    }
    // Events are binary: the PTY must neither translate nor echo them.
    termios mode{};
    if (::tcgetattr(master, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(master, TCSANOW, &mode);
    }
    inputMasters_.push_back(master);
    std::lock_guard hold(evdev_->lock);
    evdev_->nodes[node].master = master;
    return {input, node};
}

bool ControllerSysfs::writeEvents(const InputDevice &device, const void *events, std::size_t size) {
    int master = -1;
    if (evdev_) {
        std::lock_guard hold(evdev_->lock);
        if (const auto found = evdev_->nodes.find(device.node); found != evdev_->nodes.end())
            master = found->second.master;
    }
    if (master < 0) {
        error_ = "no input device " + device.node;
        return false;
    }
    // One write: a reader takes whole events only.
    if (::write(master, events, size) == static_cast<ssize_t>(size))
        return true;
    error_ = device.node + ": " + std::strerror(errno);
    return false;
}

namespace {

input_event event(unsigned type, unsigned code, int value) {
    input_event made{};
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    made.input_event_sec = now.tv_sec;
    made.input_event_usec = now.tv_nsec / 1000;
    made.type = static_cast<__u16>(type);
    made.code = static_cast<__u16>(code);
    made.value = value;
    return made;
}

} // namespace

bool ControllerSysfs::sendKey(const InputDevice &device, std::uint16_t code, std::int32_t value) {
    if (evdev_) {
        std::lock_guard hold(evdev_->lock);
        if (const auto found = evdev_->nodes.find(device.node); found != evdev_->nodes.end()) {
            if (value == 0)
                found->second.down.erase(code);
            else
                found->second.down.insert(code);
        }
    }
    const input_event events[] = {event(EV_KEY, code, value), event(EV_SYN, SYN_REPORT, 0)};
    return writeEvents(device, events, sizeof events);
}

bool ControllerSysfs::releaseKeyUnseen(const InputDevice &device, std::uint16_t code) {
    if (evdev_) {
        std::lock_guard hold(evdev_->lock);
        if (const auto found = evdev_->nodes.find(device.node); found != evdev_->nodes.end())
            found->second.down.erase(code);
    }
    const input_event dropped = event(EV_SYN, SYN_DROPPED, 0);
    return writeEvents(device, &dropped, sizeof dropped);
}

void ControllerSysfs::removeInputDevice(const InputDevice &device) {
    std::lock_guard tree(tree_);
    if (bed_ == nullptr || !evdev_)
        return;
    int master = -1;
    {
        std::lock_guard hold(evdev_->lock);
        if (const auto found = evdev_->nodes.find(device.node); found != evdev_->nodes.end()) {
            master = found->second.master;
            evdev_->nodes.erase(found);
        }
    }
    umockdev_testbed_detach_ioctl(bed_, device.node.c_str(), nullptr);
    const std::string event = device.node.substr(device.node.rfind('/') + 1);
    umockdev_testbed_remove_device(bed_, ("/sys" + device.path + "/" + event).c_str());
    umockdev_testbed_remove_device(bed_, ("/sys" + device.path).c_str());
    // umockdev leaves the node's PTY in its map; the next node given that PTY would fail on it.
    const std::string number = "13:" + std::to_string(64 + std::atoi(event.c_str() + 5));
    const std::string map = root_ + "/dev/.ptymap";
    if (DIR *entries = ::opendir(map.c_str())) {
        while (const dirent *entry = ::readdir(entries)) {
            char target[32] = {};
            const std::string link = map + "/" + entry->d_name;
            if (::readlink(link.c_str(), target, sizeof target - 1) > 0 && number == target)
                ::unlink(link.c_str());
        }
        ::closedir(entries);
    }
    // The testbed has closed its end of the PTY; with this one, the last, a reader finds the
    // node hung up.
    if (master >= 0) {
        ::close(master);
        std::erase(inputMasters_, master);
    }
}

bool ControllerSysfs::refuseReading(const InputDevice &device) {
    // The node is a link to the PTY, whose mode is the one that counts.
    const std::string file = root_ + device.node;
    if (::chmod(file.c_str(), 0) == 0)
        return true;
    error_ = file + ": " + std::strerror(errno);
    return false;
}

bool ControllerSysfs::grabbed(const InputDevice &device) const {
    if (!evdev_)
        return false;
    std::lock_guard hold(evdev_->lock);
    const auto found = evdev_->nodes.find(device.node);
    return found != evdev_->nodes.end() && found->second.grabbed;
}

} // namespace platform::testing
