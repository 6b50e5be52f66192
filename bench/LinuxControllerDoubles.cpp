#include "LinuxControllerDoubles.h"

#include <cstdio>
#include <cstdlib>
#include <thread>
#include <unistd.h>

void LinuxControllerDoubles::keepSysfsInMemory() {
    if (::access("/dev/shm", W_OK) == 0)
        ::setenv("TMPDIR", "/dev/shm", 1);
}

bool LinuxControllerDoubles::start(bool connected) {
    const QString adapter = QStringLiteral("hci0");
    if (!bluez.start(NBR_BLUEZ_TEMPLATE, &error))
        return false;
    if (!bluez.addAdapter(adapter) || !bluez.addPairedDevice(adapter, bluezAddress()) ||
        (connected && !bluez.connectDevice(adapter, bluezAddress()))) {
        error = bluez.error();
        return false;
    }
    leds = sysfs.addDualShock4(kAddress).leds;
    if (leds.empty()) {
        error = sysfs.error();
        return false;
    }
    return true;
}

platform::testing::ChildSetup LinuxControllerDoubles::childSetup() const {
    platform::testing::ChildSetup setup = sysfs.childSetup();
    setup.environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + bluez.busAddress());
    return setup;
}

std::vector<std::uint8_t> LinuxControllerDoubles::addressBytes() {
    unsigned b[6] = {};
    std::sscanf(kAddress, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
    return {std::begin(b), std::end(b)};
}

std::string LinuxControllerDoubles::ledColour() const {
    std::string colour;
    for (const char *suffix : {":red", ":green", ":blue"}) {
        const std::string text = sysfs.brightness(leds + suffix);
        unsigned value = 0;
        char rest = 0;
        if (std::sscanf(text.c_str(), "%u%c", &value, &rest) != 1 || value > 255)
            return {};
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", value);
        colour += hex;
    }
    return colour;
}

std::vector<std::string> LinuxControllerDoubles::brightnessFiles() const {
    std::vector<std::string> files;
    for (const char *suffix : {":red", ":green", ":blue"})
        files.push_back(sysfs.root() + "/sys/class/leds/" + leds + suffix + "/brightness");
    return files;
}

bool LinuxControllerDoubles::waitForConnected(bool connected, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const QVariant now = bluez.deviceProperty(bluezAddress(), QStringLiteral("Connected"));
        if (now.isValid() && now.toBool() == connected)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}
