// The Linux backend's doubles as a child process meets them: the controller's sysfs and /dev
// through the umockdev preload, BlueZ through DBUS_SYSTEM_BUS_ADDRESS. A small Python child
// stands in for the daemon.
#include "BlueZDouble.h"
#include "ChildProcess.h"
#include "ControllerSysfs.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::testing::BlueZDouble;
using platform::testing::ChildProcess;
using platform::testing::ChildSetup;
using platform::testing::ControllerSysfs;
using platform::testing::scaled;

namespace {

const QString kAddress = QStringLiteral("1C:66:6D:01:02:03");

// Standard output and the exit status of /usr/bin/python3 running `script` with `setup`.
std::pair<std::string, int> runPython(const std::string &script, const ChildSetup &setup) {
    ChildProcess child("/usr/bin/python3", {"-c", script}, setup);
    const int status = child.wait(scaled(20s));
    return {child.output(), status};
}

std::string readAll(int fd, std::size_t size) {
    std::string bytes;
    while (bytes.size() < size) {
        pollfd ready{fd, POLLIN, 0};
        char buffer[256];
        ssize_t n = 0;
        if (::poll(&ready, 1, static_cast<int>(scaled(2s).count())) <= 0 ||
            (n = ::read(fd, buffer, sizeof buffer)) <= 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
}

// What the daemon will do: write one LED, be refused another (the test runs as root here too),
// and send a report through hidraw.
TEST(LinuxDoublesProcess, AChildWritesTheTestsSysfsAndHidraw) {
    ControllerSysfs sysfs;
    const auto pad = sysfs.addDualShock4("1c:66:6d:01:02:03");
    ASSERT_FALSE(pad.path.empty()) << sysfs.error();
    ASSERT_TRUE(sysfs.refuseWrites(pad.leds + ":green")) << sysfs.error();
    const int hidraw = sysfs.addHidraw(pad.path, "hidraw4", 4);
    ASSERT_GE(hidraw, 0) << sysfs.error();

    // Guarded: without the preload these paths would be the machine's own.
    const std::string script = "import os, sys\n"
                               "if 'umockdev' not in os.environ.get('LD_PRELOAD', ''): "
                               "sys.exit('no umockdev preload')\n"
                               "leds = '/sys/class/leds/" + pad.leds + "'\n"
                               "open(leds + ':red/brightness', 'w').write('200')\n"
                               "try:\n"
                               "    open(leds + ':green/brightness', 'w').write('100')\n"
                               "    print('green written')\n"
                               "except PermissionError:\n"
                               "    print('green refused')\n"
                               "fd = os.open('/dev/hidraw4', os.O_WRONLY)\n"
                               "os.write(fd, bytes([0x11, 0xc0, 0x00, 0x02]))\n";
    const auto [output, status] = runPython(script, sysfs.childSetup());
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(output, "green refused\n");
    EXPECT_EQ(sysfs.brightness(pad.leds + ":red"), "200");
    EXPECT_EQ(sysfs.brightness(pad.leds + ":green"), "0");
    EXPECT_EQ(readAll(hidraw, 4), std::string("\x11\xc0\x00\x02", 4));
}

TEST(LinuxDoublesProcess, AChildConnectsThroughTheTestsBlueZ) {
    BlueZDouble bluez;
    std::string error;
    ASSERT_TRUE(bluez.start(NBR_BLUEZ_TEMPLATE, &error)) << error;
    ASSERT_TRUE(bluez.addAdapter(QStringLiteral("hci0"))) << bluez.error();
    ASSERT_TRUE(bluez.addPairedDevice(QStringLiteral("hci0"), kAddress)) << bluez.error();

    const std::string script = "import dbus\n"
                               "device = dbus.SystemBus().get_object('org.bluez', '" +
                               bluez.devicePath(kAddress).toStdString() +
                               "')\n"
                               "device.Connect(dbus_interface='org.bluez.Device1')\n";
    const auto [output, status] =
        runPython(script, ChildSetup{{"DBUS_SYSTEM_BUS_ADDRESS=" + bluez.busAddress()}});
    EXPECT_EQ(status, 0) << output;
    EXPECT_EQ(bluez.callsOf(kAddress, QStringLiteral("Connect")), 1) << bluez.error();
    EXPECT_TRUE(bluez.deviceProperty(kAddress, QStringLiteral("Connected")).toBool());
}

} // namespace
