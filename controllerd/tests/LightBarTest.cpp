// The light bar against sysfs and /dev trees built by umockdev. The executable runs itself again
// under the umockdev preload, which sends /sys and /dev into each test's tree.
#include "LightBar.h"

#include <gtest/gtest.h>
// The shared precompiled header brings Qt's `signals` keyword, a field name in GLib's headers.
#undef signals
#include <umockdev.h>
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

namespace {

bool preloadActive() {
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

// Before main: without the preload nothing here would touch the test tree, and the real /sys
// could be written.
[[maybe_unused]] const bool reexecuted = [] {
    if (preloadActive())
        return false;
    if (std::getenv("NBR_UMOCKDEV_REEXEC")) {
        std::fprintf(stderr, "libumockdev-preload did not load: install umockdev\n");
        std::_Exit(1);
    }
    std::vector<std::string> arguments;
    {
        std::ifstream cmdline("/proc/self/cmdline", std::ios::binary);
        std::string argument;
        while (std::getline(cmdline, argument, '\0'))
            arguments.push_back(argument);
    }
    char self[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || arguments.empty()) {
        std::fprintf(stderr, "cannot find this executable to run it under umockdev-wrapper\n");
        std::_Exit(1);
    }
    self[length] = '\0';
    ::setenv("NBR_UMOCKDEV_REEXEC", "1", 1);
    // The preload comes before the sanitizer runtime, which then must not insist on being first.
    std::string asan = std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "";
    ::setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(),
             1);
    std::vector<char *> argv;
    std::string wrapper = "umockdev-wrapper";
    argv.push_back(wrapper.data());
    argv.push_back(self);
    for (std::size_t i = 1; i < arguments.size(); ++i)
        argv.push_back(arguments[i].data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    std::fprintf(stderr, "umockdev-wrapper: %s (install umockdev; scripts/setup.sh does)\n",
                 std::strerror(errno));
    std::_Exit(1);
}();

constexpr const char *kAddress = "1c:66:6d:01:02:03";
constexpr const char *kOtherAddress = "1c:66:6d:0a:0b:0c";
constexpr const char *kBluetoothParent =
    "/devices/pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0/bluetooth/hci0/hci0:256";

class LightBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(preloadActive());
        bed_ = umockdev_testbed_new();
        ASSERT_NE(bed_, nullptr);
        char *root = umockdev_testbed_get_root_dir(bed_);
        root_ = root;
        g_free(root);
    }
    void TearDown() override {
        for (int fd : fds_)
            ::close(fd);
        if (bed_)
            g_object_unref(bed_);
    }

    void add(const std::string &description) {
        GError *error = nullptr;
        bool added = umockdev_testbed_add_from_string(bed_, description.c_str(), &error);
        ASSERT_TRUE(added) << (error ? error->message : "") << "\n" << description;
    }

    // A HID device with its address in HID_UNIQ, or (uniqInInput) only in its input device's
    // uniq attribute.
    std::string addHid(const std::string &name, const std::string &id, const std::string &address,
                       bool uniqInInput = false) {
        std::string path = std::string(kBluetoothParent) + "/" + name;
        add("P: " + path + "\nE: SUBSYSTEM=hid\nE: HID_ID=" + id +
            "\nE: HID_NAME=Wireless Controller\n" +
            (uniqInInput ? std::string() : "E: HID_UNIQ=" + address + "\n"));
        if (uniqInInput)
            add("P: " + path + "/input/input7\nE: SUBSYSTEM=input\nA: uniq=" + address + "\n");
        return path;
    }

    void addLeds(const std::string &hid, const std::string &prefix, bool global = true,
                 const std::string &globalState = "1") {
        for (const char *colour : {"red", "green", "blue"})
            add("P: " + hid + "/leds/" + prefix + ":" + colour +
                "\nE: SUBSYSTEM=leds\nA: brightness=0\nA: max_brightness=255\n");
        if (global)
            add("P: " + hid + "/leds/" + prefix + ":global\nE: SUBSYSTEM=leds\nA: brightness=" +
                globalState + "\nA: max_brightness=1\n");
    }

    // Returns the test's end of /dev/<name>.
    int addHidraw(const std::string &hid, const std::string &name, int minor) {
        add("P: " + hid + "/hidraw/" + name + "\nN: " + name + "\nE: SUBSYSTEM=hidraw\nE: DEVNAME=/dev/" +
            name + "\nA: dev=245:" + std::to_string(minor) + "\n");
        int fd = umockdev_testbed_get_dev_fd(bed_, ("/dev/" + name).c_str());
        EXPECT_GE(fd, 0);
        if (fd >= 0) {
            // A PTY behind the node must hand bytes over untouched.
            termios mode{};
            if (::tcgetattr(fd, &mode) == 0) {
                ::cfmakeraw(&mode);
                ::tcsetattr(fd, TCSANOW, &mode);
            }
            fds_.push_back(fd);
        }
        return fd;
    }

    std::string led(const std::string &name) {
        std::ifstream file(root_ + "/sys/class/leds/" + name + "/brightness");
        std::stringstream text;
        text << file.rdbuf();
        std::string value = text.str();
        while (!value.empty() && value.back() == '\n')
            value.pop_back();
        return value;
    }

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

    UMockdevTestbed *bed_ = nullptr;
    std::string root_;
    std::vector<int> fds_;
};

TEST_F(LightBarTest, HidSonyLedsOfTheControllerWithThatAddress) {
    std::string hid = addHid("0005:054C:05C4.0003", "0005:0000054C:000005C4", kAddress);
    addLeds(hid, "0005:054C:05C4.0003");

    auto result = setLightBarColor(std::string_view(kAddress), 0x12, 0x80, 0xff);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led("0005:054C:05C4.0003:red"), "18");
    EXPECT_EQ(led("0005:054C:05C4.0003:green"), "128");
    EXPECT_EQ(led("0005:054C:05C4.0003:blue"), "255");
    EXPECT_EQ(led("0005:054C:05C4.0003:global"), "1");
    EXPECT_NE(result.message.find("0005:054C:05C4.0003"), std::string::npos) << result.message;
}

// hid-playstation names the LEDs after the input device; the address here sits only in that
// input device's uniq, written in upper case, and "global" is off until the colour is set.
TEST_F(LightBarTest, HidPlaystationLedsAddressInUpperCaseUniq) {
    std::string hid = addHid("0005:054C:09CC.0004", "0005:0000054C:000009CC",
                             "1C:66:6D:01:02:03", true);
    addLeds(hid, "input7", true, "0");

    auto result = setLightBarColor(std::string_view("1c:66:6D:01:02:03"), 1, 2, 3);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led("input7:red"), "1");
    EXPECT_EQ(led("input7:green"), "2");
    EXPECT_EQ(led("input7:blue"), "3");
    EXPECT_EQ(led("input7:global"), "1");
}

TEST_F(LightBarTest, OnlyTheControllerWithThatAddressIsWritten) {
    std::string first = addHid("0005:054C:05C4.0003", "0005:0000054C:000005C4", kOtherAddress);
    addLeds(first, "0005:054C:05C4.0003");
    std::string second = addHid("0005:054C:05C4.0005", "0005:0000054C:000005C4", kAddress);
    addLeds(second, "0005:054C:05C4.0005");

    auto result = setLightBarColor(std::string_view(kAddress), 200, 100, 50);
    EXPECT_EQ(result.outcome, LightBarOutcome::WrittenToLeds) << result.message;
    EXPECT_EQ(led("0005:054C:05C4.0005:red"), "200");
    EXPECT_EQ(led("0005:054C:05C4.0005:blue"), "50");
    EXPECT_EQ(led("0005:054C:05C4.0003:red"), "0");
    EXPECT_EQ(led("0005:054C:05C4.0003:green"), "0");
    EXPECT_EQ(led("0005:054C:05C4.0003:blue"), "0");
}

TEST_F(LightBarTest, BluetoothReportThroughHidrawWithoutLeds) {
    std::string hid = addHid("0005:054C:05C4.0006", "0005:0000054C:000005C4", kAddress);
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
    std::string hid = "/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.3/0003:054C:09CC.0007";
    add("P: " + hid + "\nE: SUBSYSTEM=hid\nE: HID_ID=0003:0000054C:000009CC\nE: HID_UNIQ=" +
        kAddress + "\n");
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

// As root the mode alone refuses nothing: the test gives up its capability to override it while
// the light bar is written.
class WithoutDacOverride {
public:
    WithoutDacOverride() {
        header_.version = _LINUX_CAPABILITY_VERSION_3;
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            return;
        __user_cap_data_struct lowered[2] = {saved_[0], saved_[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) |
                                  (1u << CAP_FOWNER));
        active_ = ::syscall(SYS_capset, &header_, lowered) == 0;
    }
    ~WithoutDacOverride() {
        if (active_)
            ::syscall(SYS_capset, &header_, saved_);
    }
    WithoutDacOverride(const WithoutDacOverride &) = delete;
    WithoutDacOverride &operator=(const WithoutDacOverride &) = delete;

private:
    __user_cap_header_struct header_{};
    __user_cap_data_struct saved_[2]{};
    bool active_ = false;
};

TEST_F(LightBarTest, ReadOnlyLedIsPermissionDeniedNamingTheFileAndTheRule) {
    std::string hid = addHid("0005:054C:05C4.0003", "0005:0000054C:000005C4", kAddress);
    addLeds(hid, "0005:054C:05C4.0003");
    std::string green = root_ + "/sys" + hid + "/leds/0005:054C:05C4.0003:green/brightness";
    ASSERT_EQ(::chmod(green.c_str(), 0444), 0) << std::strerror(errno);

    LightBarResult result;
    {
        WithoutDacOverride lowered;
        result = setLightBarColor(std::string_view(kAddress), 10, 20, 30);
    }
    EXPECT_EQ(result.outcome, LightBarOutcome::PermissionDenied) << result.message;
    EXPECT_EQ(result.path, "/sys/class/leds/0005:054C:05C4.0003:green/brightness");
    EXPECT_NE(result.message.find(result.path), std::string::npos) << result.message;
    EXPECT_NE(result.message.find("70-nimbrel-controller.rules"), std::string::npos)
        << result.message;
    EXPECT_EQ(result.message.find('\n'), std::string::npos);
    EXPECT_EQ(led("0005:054C:05C4.0003:green"), "0");
}

TEST_F(LightBarTest, NoControllerAndBadAddress) {
    std::string hid = addHid("0005:054C:05C4.0003", "0005:0000054C:000005C4", kOtherAddress);
    addLeds(hid, "0005:054C:05C4.0003");
    addHidraw(hid, "hidraw3", 3);

    auto result = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(result.outcome, LightBarOutcome::NoController) << result.message;
    EXPECT_NE(result.message.find(kAddress), std::string::npos) << result.message;
    EXPECT_EQ(led("0005:054C:05C4.0003:red"), "0");

    auto bad = setLightBarColor(std::string_view("1c:66:6d:01:02\n:03"), 1, 2, 3);
    EXPECT_EQ(bad.outcome, LightBarOutcome::BadAddress);
    EXPECT_EQ(bad.message.find('\n'), std::string::npos) << bad.message;
}

// The controller goes before its report is written (the node's other end is gone, and with it
// the node), or the write itself fails.
TEST_F(LightBarTest, HidrawNodeThatVanishesOrFailsIsAnErrorNamingIt) {
    std::string hid = addHid("0005:054C:05C4.0006", "0005:0000054C:000005C4", kAddress);
    int fd = addHidraw(hid, "hidraw5", 5);
    ASSERT_GE(fd, 0);
    ::close(fd);
    fds_.clear();

    auto gone = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(gone.outcome, LightBarOutcome::IoError) << gone.message;
    EXPECT_EQ(gone.path, "/dev/hidraw5");
    EXPECT_NE(gone.message.find("/dev/hidraw5"), std::string::npos) << gone.message;

    std::string node = root_ + "/dev/hidraw5";
    ::unlink(node.c_str());
    ASSERT_EQ(::symlink("/dev/full", node.c_str()), 0) << std::strerror(errno);
    auto failed = setLightBarColor(std::string_view(kAddress), 1, 2, 3);
    EXPECT_EQ(failed.outcome, LightBarOutcome::IoError) << failed.message;
    EXPECT_EQ(failed.error, ENOSPC);
    EXPECT_NE(failed.message.find("/dev/hidraw5"), std::string::npos) << failed.message;
}

} // namespace
