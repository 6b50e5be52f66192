#include "ControllerSysfs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

// The shared precompiled header brings Qt's `signals` keyword, a field name in GLib's headers.
#undef signals
#include <umockdev.h>

namespace platform::testing {
namespace {

constexpr const char *kPreload = "libumockdev-preload.so.0";
constexpr const char *kBluetoothParent =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/bluetooth/hci0/hci0:256";
constexpr const char *kUsbParent = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.3";

std::string environmentValue(const char *name) {
    const char *value = std::getenv(name);
    return value ? value : "";
}

std::string joined(const std::string &first, const std::string &rest, char separator) {
    return rest.empty() ? first : first + separator + rest;
}

} // namespace

ControllerSysfs::ControllerSysfs() {
    bed_ = umockdev_testbed_new();
    if (bed_ == nullptr) {
        error_ = "umockdev could not make a testbed";
        return;
    }
    char *root = umockdev_testbed_get_root_dir(bed_);
    root_ = root;
    g_free(root);
}

ControllerSysfs::~ControllerSysfs() {
    closeUinput();
    for (int fd : hidraws_)
        ::close(fd);
    for (int fd : inputMasters_)
        ::close(fd);
    if (bed_)
        g_object_unref(bed_); // removes the tree
    if (evdevIoctls_)
        g_object_unref(evdevIoctls_);
    if (uinputIoctls_)
        g_object_unref(uinputIoctls_);
}

std::vector<std::string> ControllerSysfs::childEnvironment() const {
    std::string preload = environmentValue("LD_PRELOAD");
    if (preload.find(NBR_SCANDIR_PRELOAD) == std::string::npos)
        preload = joined(NBR_SCANDIR_PRELOAD, preload, ':');
    if (preload.find("libumockdev-preload") == std::string::npos)
        preload = joined(kPreload, preload, ':');
    // The preload comes before the sanitizer runtime, which then must not insist on being first.
    const std::string asan = environmentValue("ASAN_OPTIONS");
    return {"LD_PRELOAD=" + preload, "UMOCKDEV_DIR=" + root_,
            "ASAN_OPTIONS=" + joined(asan, "verify_asan_link_order=0", ':')};
}

ChildSetup ControllerSysfs::childSetup() const {
    return ChildSetup{childEnvironment(), /*obeyFileModes=*/true};
}

bool ControllerSysfs::add(const std::string &description) {
    std::lock_guard tree(tree_);
    if (bed_ == nullptr)
        return false;
    GError *failure = nullptr;
    if (umockdev_testbed_add_from_string(bed_, description.c_str(), &failure))
        return true;
    error_ = std::string(failure ? failure->message : "umockdev refused") + ":\n" + description;
    if (failure)
        g_error_free(failure);
    return false;
}

ControllerSysfs::Controller ControllerSysfs::addDualShock4(const std::string &address,
                                                           LedNaming naming, Bus bus) {
    const int number = ++controllers_;
    const std::string busCode = bus == Bus::Bluetooth ? "0005" : "0003";
    char name[32];
    std::snprintf(name, sizeof name, "%s:054C:05C4.%04X", busCode.c_str(), number);
    const std::string path =
        std::string(bus == Bus::Bluetooth ? kBluetoothParent : kUsbParent) + "/" + name;
    const std::string input = "input" + std::to_string(10 + number);
    if (!add("P: " + path + "\nE: SUBSYSTEM=hid\nE: HID_ID=" + busCode +
             ":0000054C:000005C4\nE: HID_NAME=Wireless Controller\nE: HID_UNIQ=" + address +
             "\n") ||
        !add("P: " + path + "/input/" + input + "\nE: SUBSYSTEM=input\nA: uniq=" + address + "\n"))
        return {};
    if (naming == LedNaming::NoLeds)
        return {path, ""};
    const std::string prefix = naming == LedNaming::HidSony ? std::string(name) : input;
    for (const char *colour : {"red", "green", "blue"})
        if (!add("P: " + path + "/leds/" + prefix + ":" + colour +
                 "\nE: SUBSYSTEM=leds\nA: brightness=0\nA: max_brightness=255\n"))
            return {};
    const char *global = naming == LedNaming::HidSony ? "1" : "0";
    if (!add("P: " + path + "/leds/" + prefix + ":global\nE: SUBSYSTEM=leds\nA: brightness=" +
             global + "\nA: max_brightness=1\n"))
        return {};
    return {path, prefix};
}

int ControllerSysfs::addHidraw(const std::string &hidPath, const std::string &name, int minor) {
    if (!add("P: " + hidPath + "/hidraw/" + name + "\nN: " + name +
             "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" + name + "\nA: dev=245:" +
             std::to_string(minor) + "\n"))
        return -1;
    const int fd = umockdev_testbed_get_dev_fd(bed_, ("/dev/" + name).c_str());
    if (fd < 0) {
        error_ = "umockdev gave no other end of /dev/" + name;
        return -1;
    }
    // A PTY behind the node must hand bytes over untouched.
    termios mode{};
    if (::tcgetattr(fd, &mode) == 0) {
        ::cfmakeraw(&mode);
        ::tcsetattr(fd, TCSANOW, &mode);
    }
    hidraws_.push_back(fd);
    return fd;
}

void ControllerSysfs::closeHidraw(int fd) {
    const auto found = std::find(hidraws_.begin(), hidraws_.end(), fd);
    if (found == hidraws_.end())
        return;
    ::close(fd);
    hidraws_.erase(found);
}

void ControllerSysfs::removeDevice(const std::string &path) {
    std::lock_guard tree(tree_);
    if (bed_ == nullptr)
        return;
    // umockdev removes one device's folder; its children (LEDs, input, hidraw) would stay
    // behind as dangling class links, which no kernel leaves. Deepest first.
    std::vector<std::string> devices;
    std::error_code failed;
    const std::filesystem::path top = root_ + "/sys" + path;
    for (auto entry = std::filesystem::recursive_directory_iterator(top, failed);
         entry != std::filesystem::recursive_directory_iterator(); entry.increment(failed)) {
        if (failed)
            break;
        if (entry->is_directory() && !entry->is_symlink() &&
            std::filesystem::exists(entry->path() / "uevent"))
            devices.push_back(entry->path().string().substr(root_.size()));
    }
    std::sort(devices.begin(), devices.end(),
              [](const auto &a, const auto &b) { return a.size() > b.size(); });
    devices.push_back("/sys" + path);
    // No "remove" uevents: umockdev finds the device for one through libudev, which sees this
    // tree only under the preload, and this process runs without it.
    for (const auto &device : devices)
        umockdev_testbed_remove_device(bed_, device.c_str());
}

std::string ControllerSysfs::brightness(const std::string &led) const {
    std::ifstream file(root_ + "/sys/class/leds/" + led + "/brightness");
    std::stringstream text;
    text << file.rdbuf();
    std::string value = text.str();
    while (!value.empty() && value.back() == '\n')
        value.pop_back();
    return value;
}

bool ControllerSysfs::refuseWrites(const std::string &led) {
    const std::string file = root_ + "/sys/class/leds/" + led + "/brightness";
    if (::chmod(file.c_str(), 0444) == 0)
        return true;
    error_ = file + ": " + std::strerror(errno);
    return false;
}

FileModesHold::FileModesHold() {
    header_.version = _LINUX_CAPABILITY_VERSION_3;
    if (::syscall(SYS_capget, &header_, saved_) != 0)
        return;
    __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
    lowered[0].effective &=
        ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
    active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
}

FileModesHold::~FileModesHold() {
    if (active_)
        ::syscall(SYS_capset, &header_, saved_);
}

} // namespace platform::testing
