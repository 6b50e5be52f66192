// The light bar against sysfs and /dev trees built by umockdev. The executable runs itself again
// under the umockdev preload, which sends /sys and /dev into each test's tree.
#include "ControllerSysfs.h"
#include "LightBar.h"
#include "UmockdevPreload.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

using platform::testing::ControllerSysfs;
using platform::testing::FileModesHold;
using LedNaming = ControllerSysfs::LedNaming;
using Bus = ControllerSysfs::Bus;

namespace {

// Before main: without the preload nothing here would touch the test tree, and the real /sys
// could be written.
[[maybe_unused]] const bool reexecuted = platform::testing::runUnderUmockdevPreload();

constexpr const char *kAddress = "1c:66:6d:01:02:03";
constexpr const char *kOtherAddress = "1c:66:6d:0a:0b:0c";

class LightBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(platform::testing::umockdevPreloadActive());
        ASSERT_FALSE(sysfs_.root().empty()) << sysfs_.error();
    }

    ControllerSysfs::Controller addDualShock4(const char *address,
                                              LedNaming naming = LedNaming::HidSony,
                                              Bus bus = Bus::Bluetooth) {
        auto controller = sysfs_.addDualShock4(address, naming, bus);
        EXPECT_FALSE(controller.path.empty()) << sysfs_.error();
        return controller;
    }

    int addHidraw(const std::string &hid, const std::string &name, int minor) {
        int fd = sysfs_.addHidraw(hid, name, minor);
        EXPECT_GE(fd, 0) << sysfs_.error();
        return fd;
    }

    std::string led(const std::string &name) { return sysfs_.brightness(name); }

    std::vector<unsigned char> readReport(int fd, std::size_t size) {
        std::vector<unsigned char> bytes;
        while (bytes.size() < size) {
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, 2000) <= 0)
                break;
            unsigned char buffer[256];
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    ControllerSysfs sysfs_;
};

TEST_F(LightBarTest, HidSonyLedsOfTheControllerWithThatAddress) {
    const std::string leds = addDualShock4(kAddress).leds;

    auto result = setLightBarColor(std::string_view(kAddress), 0x12, 0x80, 0xff);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led(leds + ":red"), "18");
    EXPECT_EQ(led(leds + ":green"), "128");
    EXPECT_EQ(led(leds + ":blue"), "255");
    EXPECT_EQ(led(leds + ":global"), "1");
    EXPECT_NE(result.message.find(leds), std::string::npos) << result.message;
}

// hid-playstation names the LEDs after the input device; the address here sits only in that
// input device's uniq, written in upper case, and "global" is off until the colour is set.
TEST_F(LightBarTest, HidPlaystationLedsAddressInUpperCaseUniq) {
    const std::string hid = "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/bluetooth/hci0/"
                            "hci0:256/0005:054C:09CC.0004";
    ASSERT_TRUE(sysfs_.add("P: " + hid +
                           "\nE: SUBSYSTEM=hid\nE: HID_ID=0005:0000054C:000009CC\n"
                           "E: HID_NAME=Wireless Controller\n"))
        << sysfs_.error();
    ASSERT_TRUE(sysfs_.add("P: " + hid +
                           "/input/input7\nE: SUBSYSTEM=input\nA: uniq=1C:66:6D:01:02:03\n"))
        << sysfs_.error();
    for (const char *colour : {"red", "green", "blue", "global"})
        ASSERT_TRUE(sysfs_.add("P: " + hid + "/leds/input7:" + colour +
                               "\nE: SUBSYSTEM=leds\nA: brightness=0\nA: max_brightness=" +
                               (colour == std::string("global") ? "1" : "255") + "\n"))
            << sysfs_.error();

    auto result = setLightBarColor(std::string_view("1c:66:6D:01:02:03"), 1, 2, 3);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led("input7:red"), "1");
    EXPECT_EQ(led("input7:green"), "2");
    EXPECT_EQ(led("input7:blue"), "3");
    EXPECT_EQ(led("input7:global"), "1");
}

TEST_F(LightBarTest, OnlyTheControllerWithThatAddressIsWritten) {
    const std::string other = addDualShock4(kOtherAddress).leds;
    const std::string leds = addDualShock4(kAddress).leds;

    auto result = setLightBarColor(std::string_view(kAddress), 200, 100, 50);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led(leds + ":red"), "200");
    EXPECT_EQ(led(leds + ":blue"), "50");
    EXPECT_EQ(led(other + ":red"), "0");
    EXPECT_EQ(led(other + ":green"), "0");
    EXPECT_EQ(led(other + ":blue"), "0");
}

TEST_F(LightBarTest, BluetoothReportThroughHidrawWithoutLeds) {
    const std::string hid = addDualShock4(kAddress, LedNaming::NoLeds).path;
    int fd = addHidraw(hid, "hidraw5", 5);
    ASSERT_GE(fd, 0);

    auto result = setLightBarColor(std::string_view(kAddress), 0xaa, 0x0a, 0x55);
    ASSERT_EQ(result.outcome, LightBarOutcome::WrittenToHidraw) << result.message;
    EXPECT_EQ(result.path, "/dev/hidraw5");

    auto report = readReport(fd, 78);
    ASSERT_EQ(report.size(), 78u);
    EXPECT_EQ(report[0], 0x11);
    EXPECT_EQ(report[1], 0xc0);
    EXPECT_EQ(report[3], 0x02);
    EXPECT_EQ(report[8], 0xaa);
    EXPECT_EQ(report[9], 0x0a);
    EXPECT_EQ(report[10], 0x55);
    for (std::size_t i : {2u, 4u, 5u, 6u, 7u, 11u, 12u, 40u, 73u})
        EXPECT_EQ(report[i], 0) << "byte " << i;

    const unsigned char header = 0xa2;
    uLong crc = ::crc32(0L, &header, 1);
    crc = ::crc32(crc, report.data(), 74);
    std::uint32_t sent = report[74] | report[75] << 8 | report[76] << 16 |
                         static_cast<std::uint32_t>(report[77]) << 24;
    EXPECT_EQ(sent, static_cast<std::uint32_t>(crc));
}

TEST_F(LightBarTest, UsbReportThroughHidraw) {
    const std::string hid = addDualShock4(kAddress, LedNaming::NoLeds, Bus::Usb).path;
    int fd = addHidraw(hid, "hidraw2", 2);
    ASSERT_GE(fd, 0);

    auto result = setLightBarColor(std::string_view(kAddress), 9, 8, 7);
    ASSERT_EQ(result.outcome, LightBarOutcome::WrittenToHidraw) << result.message;

    auto report = readReport(fd, 32);
    std::vector<unsigned char> expected(32, 0);
    expected[0] = 0x05;
    expected[1] = 0x02;
    expected[6] = 9;
    expected[7] = 8;
    expected[8] = 7;
    EXPECT_EQ(report, expected);
}

TEST_F(LightBarTest, ReadOnlyLedIsPermissionDeniedNamingTheFileAndTheRule) {
    const std::string leds = addDualShock4(kAddress).leds;
    ASSERT_TRUE(sysfs_.refuseWrites(leds + ":green")) << sysfs_.error();

    LightBarResult result;
    {
        // As root the mode alone refuses nothing.
        FileModesHold obeyed;
        result = setLightBarColor(std::string_view(kAddress), 10, 20, 30);
    }
    EXPECT_EQ(result.outcome, LightBarOutcome::PermissionDenied) << result.message;
    EXPECT_EQ(result.path, "/sys/class/leds/" + leds + ":green/brightness");
    EXPECT_NE(result.message.find(result.path), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("70-nimbrel-controller.rules"), std::string::npos)
        << result.message;
    EXPECT_EQ(result.message.find('\n'), std::string::npos);
    EXPECT_EQ(led(leds + ":green"), "0");
}

TEST_F(LightBarTest, NoControllerAndBadAddress) {
    const auto other = addDualShock4(kOtherAddress);
    addHidraw(other.path, "hidraw3", 3);

    auto result = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(result.outcome, LightBarOutcome::NoController) << result.message;
    EXPECT_NE(result.message.find(kAddress), std::string::npos) << result.message;
    EXPECT_EQ(led(other.leds + ":red"), "0");

    auto bad = setLightBarColor(std::string_view("1c:66:6d:01:02\n:03"), 1, 2, 3);
    EXPECT_EQ(bad.outcome, LightBarOutcome::BadAddress);
    EXPECT_EQ(bad.message.find('\n'), std::string::npos) << bad.message;
}

// The controller goes before its report is written (the node's other end is gone, and with it
// the node), or the write itself fails.
TEST_F(LightBarTest, HidrawNodeThatVanishesOrFailsIsAnErrorNamingIt) {
    const std::string hid = addDualShock4(kAddress, LedNaming::NoLeds).path;
    int fd = addHidraw(hid, "hidraw5", 5);
    ASSERT_GE(fd, 0);
    sysfs_.closeHidraw(fd);

    auto gone = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(gone.outcome, LightBarOutcome::IoError) << gone.message;
    EXPECT_EQ(gone.path, "/dev/hidraw5");
    EXPECT_NE(gone.message.find("/dev/hidraw5"), std::string::npos) << gone.message;

    std::string node = sysfs_.root() + "/dev/hidraw5";
    ::unlink(node.c_str());
    ASSERT_EQ(::symlink("/dev/full", node.c_str()), 0) << std::strerror(errno);
    auto failed = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(failed.outcome, LightBarOutcome::IoError) << failed.message;
    EXPECT_EQ(failed.error, ENOSPC);
    EXPECT_NE(failed.message.find("/dev/hidraw5"), std::string::npos) << failed.message;
}

// One connection's light bar keeps the files it found; when the controller comes back and the
// kernel names its LEDs anew, they are found again, and a refusal is not mistaken for that.
TEST_F(LightBarTest, AConnectionsLightBarFindsItsFilesAgainOnlyWhenTheyAreGone) {
    const auto first = addDualShock4(kAddress);
    LightBar bar(*parseBluetoothAddress(kAddress));
    EXPECT_EQ(bar.show(1, 2, 3).outcome, LightBarOutcome::WrittenToLeds);
    EXPECT_EQ(led(first.leds + ":blue"), "3");

    sysfs_.removeDevice(first.path);
    const auto again = addDualShock4(kAddress, LedNaming::HidPlaystation);
    auto result = bar.show(4, 5, 6);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led(again.leds + ":red"), "4");
    EXPECT_EQ(led(again.leds + ":blue"), "6");

    ASSERT_TRUE(sysfs_.refuseWrites(again.leds + ":green"));
    FileModesHold modes;
    EXPECT_EQ(bar.show(7, 8, 9).outcome, LightBarOutcome::PermissionDenied);
}

} // namespace
