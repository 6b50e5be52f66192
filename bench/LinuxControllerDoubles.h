#pragma once

#include "BlueZDouble.h"
#include "ControllerSysfs.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// A DualShock 4 as the controller daemon's Linux backend finds it: paired on hci0 of a BlueZ
// double (connected or not) and with its light bar's LEDs in a sysfs double. Needs a
// QCoreApplication; false from start() with error set when a double cannot be made.
struct LinuxControllerDoubles {
    static constexpr const char *kAddress = "1c:66:6d:01:02:03";

    platform::testing::BlueZDouble bluez;
    platform::testing::ControllerSysfs sysfs;
    std::string leds; // the LEDs' names without ":red", ":green" and ":blue"
    std::string error;

    // The sysfs double in memory (/dev/shm), as the kernel's sysfs is: on /tmp's ext4 the
    // truncate and rewrite of each brightness write takes hundreds of microseconds, at times
    // milliseconds, which would be measured instead of the daemon. Call first thing in main: GLib
    // keeps the temporary folder it saw first.
    static void keepSysfsInMemory();
    bool sysfsInMemory() const { return sysfs.root().starts_with("/dev/shm/"); }

    bool start(bool connected);
    // What the daemon needs to meet both doubles instead of the machine's own.
    platform::testing::ChildSetup childSetup() const;
    // The address as the preferences file keeps it.
    static std::vector<std::uint8_t> addressBytes();
    static QString bluezAddress() { return QString::fromLatin1(kAddress).toUpper(); }

    // "rrggbb" as the red, green and blue brightness files hold it; empty while one of them holds
    // no number from 0 to 255 (a write under way).
    std::string ledColour() const;
    // The three brightness files on the test's side, to watch for writes.
    std::vector<std::string> brightnessFiles() const;
    // Until BlueZ shows the controller connected (or not); false when the time ran out.
    bool waitForConnected(bool connected, std::chrono::milliseconds timeout);
};
