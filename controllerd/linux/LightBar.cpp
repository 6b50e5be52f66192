#include "LightBar.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t kSonyVendor = 0x054c;
constexpr std::uint16_t kBusUsb = 0x0003;
constexpr std::uint16_t kBusBluetooth = 0x0005;
constexpr std::size_t kBluetoothReportSize = 78;
constexpr std::size_t kUsbReportSize = 32;
// Only the light bar is marked valid, so a running rumble or blink is left as it is.
constexpr std::uint8_t kValidLightBar = 0x02;

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Sysfs attributes are small; anything past 4 KiB is not one.
std::optional<std::string> readSmallFile(const std::string &path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() >= sizeof buffer)
            break;
    }
    ::close(fd);
    return text;
}

std::optional<std::string> ueventValue(const std::string &uevent, std::string_view key) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string::npos)
            end = uevent.size();
        std::string_view line(uevent.data() + start, end - start);
        if (line.size() > key.size() && line.substr(0, key.size()) == key &&
            line[key.size()] == '=')
            return trimmed(std::string(line.substr(key.size() + 1)));
        start = end + 1;
    }
    return std::nullopt;
}

std::vector<std::string> directoryEntries(const std::string &path) {
    std::vector<std::string> names;
    DIR *dir = ::opendir(path.c_str());
    if (!dir)
        return names;
    while (dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string &path) {
    return ::access(path.c_str(), F_OK) == 0;
}

struct HidDevice {
    std::string path; // under /sys/devices
    std::uint16_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::optional<BluetoothAddress> address;
};

// HID_ID is "BBBB:VVVVVVVV:PPPPPPPP" in hex.
bool parseHidId(const std::string &text, HidDevice &device) {
    unsigned bus = 0, vendor = 0, product = 0;
    if (std::sscanf(text.c_str(), "%x:%x:%x", &bus, &vendor, &product) != 3)
        return false;
    device.bus = static_cast<std::uint16_t>(bus);
    device.vendor = static_cast<std::uint16_t>(vendor);
    device.product = static_cast<std::uint16_t>(product);
    return true;
}

// The HID device above a class device (an LED, a hidraw node): the nearest ancestor whose
// uevent carries HID_ID. Its address is HID_UNIQ, or the uniq of an input device under it.
std::optional<HidDevice> hidDeviceAbove(const std::string &classPath) {
    char resolved[PATH_MAX];
    if (!::realpath(classPath.c_str(), resolved))
        return std::nullopt;
    std::string path = resolved;
    for (;;) {
        std::size_t slash = path.rfind('/');
        if (slash == std::string::npos || slash == 0)
            return std::nullopt;
        path.resize(slash);
        if (path == "/sys" || path == "/sys/devices")
            return std::nullopt;
        auto uevent = readSmallFile(path + "/uevent");
        if (!uevent)
            continue;
        auto hidId = ueventValue(*uevent, "HID_ID");
        if (!hidId)
            continue;
        HidDevice device;
        device.path = path;
        if (!parseHidId(*hidId, device))
            return std::nullopt;
        if (auto uniq = ueventValue(*uevent, "HID_UNIQ"))
            device.address = parseBluetoothAddress(*uniq);
        if (!device.address) {
            for (const auto &input : directoryEntries(path + "/input")) {
                if (auto uniq = readSmallFile(path + "/input/" + input + "/uniq")) {
                    device.address = parseBluetoothAddress(trimmed(*uniq));
                    if (device.address)
                        break;
                }
            }
        }
        return device;
    }
}

bool isDualShock4(const HidDevice &device) {
    return device.vendor == kSonyVendor && (device.product == 0x05c4 || device.product == 0x09cc);
}

std::string hexColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", red, green, blue);
    return text;
}

LightBarResult failure(int error, const std::string &path, const std::string &address) {
    LightBarResult result;
    result.path = path;
    result.error = error;
    if (error == EACCES || error == EPERM) {
        result.outcome = LightBarOutcome::PermissionDenied;
        result.message = "Permission denied writing " + path + " (controller " + address +
                         "): the udev rule " + kControllerUdevRule + " grants access; install it" +
                         (path.rfind("/sys/", 0) == 0 ? ", join the plugdev group" : "") +
                         " and reconnect the controller";
        return result;
    }
    result.outcome = LightBarOutcome::IoError;
    bool gone = error == ENOENT || error == ENODEV || error == ENXIO || error == EPIPE ||
                error == ESHUTDOWN || error == ECONNRESET;
    result.message = "Could not write " + path + " (controller " + address + "): " +
                     (gone ? "the controller went away (" + std::string(std::strerror(error)) + ")"
                           : std::string(std::strerror(error)));
    return result;
}

// 0 or the errno. No O_CREAT: a file that is not there is never made.
int writeWhole(const std::string &path, const void *bytes, std::size_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno;
    ssize_t written;
    do {
        written = ::write(fd, bytes, size);
    } while (written < 0 && errno == EINTR);
    int error = written < 0 ? errno : (static_cast<std::size_t>(written) == size ? 0 : EIO);
    if (::close(fd) != 0 && error == 0 && errno != EINTR)
        error = errno;
    return error;
}

int writeText(const std::string &path, const std::string &text) {
    return writeWhole(path, text.data(), text.size());
}

// The LED sets ("<prefix>:red|green|blue", optional ":global") whose HID device has the address.
std::optional<std::string> findLedPrefix(const BluetoothAddress &address) {
    const std::string leds = "/sys/class/leds/";
    for (const auto &name : directoryEntries(leds)) {
        constexpr std::string_view red = ":red";
        if (name.size() <= red.size() ||
            name.compare(name.size() - red.size(), red.size(), red) != 0)
            continue;
        std::string prefix = name.substr(0, name.size() - red.size());
        if (!exists(leds + prefix + ":green") || !exists(leds + prefix + ":blue"))
            continue;
        auto device = hidDeviceAbove(leds + name);
        if (device && device->address == address)
            return prefix;
    }
    return std::nullopt;
}

LightBarResult writeLeds(const std::string &prefix, const std::string &address, std::uint8_t red,
                         std::uint8_t green, std::uint8_t blue) {
    const std::string base = "/sys/class/leds/" + prefix;
    const std::pair<const char *, std::uint8_t> colours[] = {
        {":red", red}, {":green", green}, {":blue", blue}};
    for (const auto &[suffix, value] : colours) {
        std::string path = base + suffix + "/brightness";
        if (int error = writeText(path, std::to_string(value)))
            return failure(error, path, address);
    }
    // Both drivers send the colour only while "global" is on; it is switched on when off and
    // otherwise left alone, as writing it also ends a blink someone else set.
    std::string global = base + ":global/brightness";
    if (auto state = readSmallFile(global); state && trimmed(*state) == "0") {
        if (int error = writeText(global, "1"))
            return failure(error, global, address);
    }
    LightBarResult result;
    result.outcome = LightBarOutcome::WrittenToLeds;
    result.path = base + ":{red,green,blue}";
    result.message = "Light bar of " + address + " set to " + hexColor(red, green, blue) +
                     " through " + result.path;
    return result;
}

// zlib's CRC-32 (with its inversions), written out: the daemon links support's `crc32` (same
// name, no inversions), which would take the place of zlib's in this executable.
std::uint32_t zlibCrc32(std::uint32_t crc, const std::uint8_t *bytes, std::size_t size) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i)
        crc = table[(crc ^ bytes[i]) & 0xff] ^ (crc >> 8);
    return ~crc;
}

std::vector<std::uint8_t> outputReport(std::uint16_t bus, std::uint8_t red, std::uint8_t green,
                                       std::uint8_t blue) {
    if (bus == kBusBluetooth) {
        std::vector<std::uint8_t> report(kBluetoothReportSize, 0);
        report[0] = 0x11;
        report[1] = 0xc0; // HID report with CRC
        report[3] = kValidLightBar;
        report[8] = red;
        report[9] = green;
        report[10] = blue;
        // The CRC covers the Bluetooth HID header (0xA2, output report) the host stack adds.
        const std::uint8_t header = 0xa2;
        std::uint32_t crc = zlibCrc32(0, &header, 1);
        crc = zlibCrc32(crc, report.data(), kBluetoothReportSize - 4);
        for (int i = 0; i < 4; ++i)
            report[kBluetoothReportSize - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
        return report;
    }
    std::vector<std::uint8_t> report(kUsbReportSize, 0);
    report[0] = 0x05;
    report[1] = kValidLightBar;
    report[6] = red;
    report[7] = green;
    report[8] = blue;
    return report;
}

struct HidrawNode {
    std::string path; // /dev/hidrawN
    std::uint16_t bus = 0;
};

std::optional<HidrawNode> findHidraw(const BluetoothAddress &address) {
    const std::string hidraw = "/sys/class/hidraw/";
    for (const auto &name : directoryEntries(hidraw)) {
        auto device = hidDeviceAbove(hidraw + name);
        if (!device || device->address != address || !isDualShock4(*device))
            continue;
        if (device->bus != kBusBluetooth && device->bus != kBusUsb)
            continue;
        return HidrawNode{"/dev/" + name, device->bus};
    }
    return std::nullopt;
}

std::optional<LightBar::Target> findTarget(const BluetoothAddress &address) {
    if (auto prefix = findLedPrefix(address))
        return LightBar::Target{true, *prefix, 0};
    if (auto node = findHidraw(address))
        return LightBar::Target{false, node->path, node->bus};
    return std::nullopt;
}

LightBarResult writeTarget(const LightBar::Target &target, const BluetoothAddress &address,
                           std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    const std::string text = formatBluetoothAddress(address);
    if (target.leds)
        return writeLeds(target.name, text, red, green, blue);
    auto report = outputReport(target.bus, red, green, blue);
    if (int error = writeWhole(target.name, report.data(), report.size()))
        return failure(error, target.name, text);
    LightBarResult result;
    result.outcome = LightBarOutcome::WrittenToHidraw;
    result.path = target.name;
    result.message = "Light bar of " + text + " set to " + hexColor(red, green, blue) +
                     " through " + target.name +
                     (target.bus == kBusBluetooth ? " (Bluetooth report)" : " (USB report)");
    return result;
}

LightBarResult noController(const BluetoothAddress &address) {
    LightBarResult result;
    result.outcome = LightBarOutcome::NoController;
    result.message = "No DualShock 4 with address " + formatBluetoothAddress(address) +
                     " is connected: no light bar under /sys/class/leds and no /dev/hidraw node "
                     "for it";
    return result;
}

} // namespace

LightBarResult setLightBarColor(const BluetoothAddress &address, std::uint8_t red,
                                std::uint8_t green, std::uint8_t blue) {
    const auto target = findTarget(address);
    return target ? writeTarget(*target, address, red, green, blue) : noController(address);
}

LightBarResult LightBar::show(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    if (target_) {
        LightBarResult result = writeTarget(*target_, address_, red, green, blue);
        // Files that went away are looked for again; a refusal is the answer.
        if (result.ok() || result.outcome == LightBarOutcome::PermissionDenied ||
            result.error == EIO)
            return result;
    }
    target_ = findTarget(address_);
    return target_ ? writeTarget(*target_, address_, red, green, blue) : noController(address_);
}

LightBarResult setLightBarColor(std::string_view address, std::uint8_t red, std::uint8_t green,
                                std::uint8_t blue) {
    if (auto parsed = parseBluetoothAddress(address))
        return setLightBarColor(*parsed, red, green, blue);
    LightBarResult result;
    result.outcome = LightBarOutcome::BadAddress;
    // Whatever came in stays on one line and short.
    std::string shown;
    for (char c : address.substr(0, 40))
        shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    result.message =
        "\"" + shown + "\" is not a Bluetooth address (six hex pairs, like 1c:66:6d:01:02:03)";
    return result;
}
