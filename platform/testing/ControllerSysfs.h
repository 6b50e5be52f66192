#pragma once

#include "ChildProcess.h"

#include <cstdint>
#include <linux/capability.h>
#include <linux/input.h>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace platform::testing {

struct EvdevNode;

// A sysfs and /dev tree of one test's own (a umockdev testbed) holding DualShock 4s and evdev
// input devices (keyboards, a mouse) as the kernel shows them. The test process builds and reads
// it without the umockdev preload; a process started with childSetup() sees it as /sys and /dev.
// A process that is itself under the preload (umockdev-wrapper) sees it too, since the testbed
// sets UMOCKDEV_DIR. Failures return false, an empty path or -1, with error() saying why.
class ControllerSysfs {
public:
    enum class LedNaming {
        HidSony,        // <hid device>:red|green|blue|global (kernel 6.1)
        HidPlaystation, // inputN:red|green|blue|global (kernel 6.2 on)
        NoLeds,         // the light bar only through hidraw
    };
    enum class Bus { Bluetooth, Usb };
    struct Controller {
        std::string path; // the HID device, "/devices/…/0005:054C:05C4.0001"
        std::string leds; // what its LEDs' names begin with ("input11"); empty without LEDs
    };
    struct InputDevice {
        std::string path; // the input device, "/devices/virtual/input/input40"
        std::string node; // its event node, "/dev/input/event20"
    };
    // A device made through /dev/uinput, as uinput was told it.
    struct UinputDevice {
        std::string name;                             // UI_DEV_SETUP
        input_id id{};                                // UI_DEV_SETUP
        std::set<unsigned> types;                     // UI_SET_EVBIT
        std::map<unsigned, std::set<unsigned>> codes; // UI_SET_KEYBIT, UI_SET_ABSBIT, … by type
        std::set<unsigned> properties;                // UI_SET_PROPBIT
        std::map<unsigned, input_absinfo> axes;       // UI_ABS_SETUP
        InputDevice made;                             // from UI_DEV_CREATE on
        bool destroyed = false;                       // UI_DEV_DESTROY
    };

    ControllerSysfs();
    ~ControllerSysfs();
    ControllerSysfs(const ControllerSysfs &) = delete;
    ControllerSysfs &operator=(const ControllerSysfs &) = delete;

    const std::string &root() const { return root_; }
    // LD_PRELOAD (umockdev's, then the project's scandir(3) into the tree, the test's own kept
    // after them), UMOCKDEV_DIR, and ASAN_OPTIONS letting the preload come before a sanitizer
    // runtime.
    std::vector<std::string> childEnvironment() const;
    // The environment, with file modes holding for the child even when the test runs as root
    // (refuseWrites needs that).
    ChildSetup childSetup() const;

    // A HID device with HID_UNIQ `address` and an input device with uniq `address`, written as
    // given, and its four LEDs in that naming ("global" is on under hid-sony, off under
    // hid-playstation until a colour is set).
    Controller addDualShock4(const std::string &address, LedNaming naming = LedNaming::HidSony,
                             Bus bus = Bus::Bluetooth);
    // /dev/<name> under the HID device; returns the test's end of it in raw mode (what the
    // child writes arrives there), kept until closeHidraw or the end.
    int addHidraw(const std::string &hidPath, const std::string &name, int minor);
    void closeHidraw(int fd);
    // A device in umockdev's text form ("P: /devices/…\nE: SUBSYSTEM=…\nA: …").
    bool add(const std::string &description);
    // The device and everything under it gone, as when the controller is switched off. No
    // uevent tells a child: it sees the tree change, not a udev event.
    void removeDevice(const std::string &path);

    // An evdev keyboard (letter keys, Return, Shift, …, LEDs, autorepeat) with its event node,
    // whose ioctls answer as the kernel's do (libevdev opens it) and whose events come from
    // sendKey. Its sysfs capabilities say the same. Empty paths on failure.
    InputDevice addKeyboard(const std::string &name);
    // A mouse: EV_REL (x, y) and BTN_LEFT only.
    InputDevice addMouse(const std::string &name);
    // EV_KEY `code` with `value` (1 press, 0 release, 2 autorepeat), then SYN_REPORT.
    bool sendKey(const InputDevice &device, std::uint16_t code, std::int32_t value);
    // `code` comes up while the reader's buffer is full: the reader gets SYN_DROPPED and finds
    // the key up when it asks the device's state; its release event is lost.
    bool releaseKeyUnseen(const InputDevice &device, std::uint16_t code);
    // Unplugged: the node goes away and whoever has it open finds it hung up.
    void removeInputDevice(const InputDevice &device);
    // The event node readable by no one (mode 0), as a user outside the input group finds it;
    // see childSetup and FileModesHold.
    bool refuseReading(const InputDevice &device);
    // Whether a reader holds the device with an exclusive grab (EVIOCGRAB).
    bool grabbed(const InputDevice &device) const;

    // /dev/uinput answering what libevdev's uinput calls ask, as the kernel's uinput (version 5)
    // does: UI_DEV_CREATE makes the device an input device with its event node (whose ioctls
    // answer as evdev's) and UI_DEV_DESTROY removes it; what the child writes to /dev/uinput
    // is read with takeUinputEvents. Ioctls it does not know are refused and named in
    // uinputProblems.
    bool addUinput();
    // /dev/uinput openable by no one (mode 0), as it is without the udev rule granting it; see
    // childSetup.
    bool refuseUinput();
    // Every device made through /dev/uinput or being set up, in order, removed ones kept.
    std::vector<UinputDevice> uinputDevices() const;
    // The events written to /dev/uinput since the last call, whole ones only, without waiting.
    std::vector<input_event> takeUinputEvents();
    std::vector<std::string> uinputProblems() const;

    // <root>/sys/class/leds/<led>/brightness without its newline; empty when unreadable.
    std::string brightness(const std::string &led) const;
    // That brightness file can no longer be written (mode 0444): a process started with
    // childSetup(), or this one inside FileModesHold, is refused.
    bool refuseWrites(const std::string &led);

    const std::string &error() const { return error_; }

    struct EvdevNodes; // what the event nodes answer, shared with umockdev's ioctl thread
    struct Uinput;     // what /dev/uinput was told, shared with that thread

private:
    InputDevice addInputDevice(const std::string &name, bool keyboard);
    // `udevKind` is the udev property naming the device's kind ("ID_INPUT_KEYBOARD").
    InputDevice addEvdevDevice(const EvdevNode &state, const std::string &udevKind);
    // Nothing more is made through /dev/uinput: the tree is going.
    void closeUinput();
    bool writeEvents(const InputDevice &device, const void *events, std::size_t size);

    UMockdevTestbed *bed_ = nullptr;
    std::string root_;
    std::vector<int> hidraws_;
    std::vector<int> inputMasters_;
    int controllers_ = 0;
    std::shared_ptr<EvdevNodes> evdev_;
    UMockdevIoctlBase *evdevIoctls_ = nullptr;
    int inputDevices_ = 0;
    std::shared_ptr<Uinput> uinput_;
    UMockdevIoctlBase *uinputIoctls_ = nullptr;
    int uinputMaster_ = -1;
    std::string uinputBytes_; // a partial event read from it
    // The tree changes from umockdev's ioctl thread too, as a device made through /dev/uinput
    // comes and goes.
    mutable std::recursive_mutex tree_;
    std::string error_;
};

// While one lives, this thread obeys file modes even as root (it gives up CAP_DAC_OVERRIDE and
// its kin); nothing changes for others.
class FileModesHold {
public:
    FileModesHold();
    ~FileModesHold();
    FileModesHold(const FileModesHold &) = delete;
    FileModesHold &operator=(const FileModesHold &) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

} // namespace platform::testing
