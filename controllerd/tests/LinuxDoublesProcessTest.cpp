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

// What the daemon's keyboard reader does through libevdev, by hand: the ioctls that tell a
// keyboard from a mouse, a node the user may not read, and a key's event.
TEST(LinuxDoublesProcess, AChildReadsTheTestsKeyboards) {
    ControllerSysfs sysfs;
    const auto keyboard = sysfs.addKeyboard("Test Keyboard");
    const auto mouse = sysfs.addMouse("Test Mouse");
    const auto locked = sysfs.addKeyboard("Locked Keyboard");
    ASSERT_FALSE(keyboard.node.empty() || mouse.node.empty() || locked.node.empty())
        << sysfs.error();
    ASSERT_TRUE(sysfs.refuseReading(locked)) << sysfs.error();

    const std::string script =
        "import array, fcntl, os, struct, sys\n"
        "if 'umockdev' not in os.environ.get('LD_PRELOAD', ''): sys.exit('no umockdev preload')\n"
        "def ask(fd, number, size):\n"
        "    buffer = array.array('B', bytes(size))\n"
        "    fcntl.ioctl(fd, 2 << 30 | size << 16 | ord('E') << 8 | number, buffer)\n"
        "    return bytes(buffer)\n"
        "def has(bits, code): return bits[code // 8] >> code % 8 & 1\n"
        "for node in sorted(os.listdir('/dev/input')):\n"
        "    try:\n"
        "        fd = os.open('/dev/input/' + node, os.O_RDONLY)\n"
        "    except PermissionError:\n"
        "        print(node, 'refused')\n"
        "        continue\n"
        "    keys = ask(fd, 0x21, 96)\n"
        "    print(node, ask(fd, 0x06, 256).split(b'\\0')[0].decode(), has(keys, 30), "
        "has(keys, 0x110), has(ask(fd, 0x20, 4), 2))\n"
        "    os.close(fd)\n"
        "fd = os.open('" + keyboard.node + "', os.O_RDONLY)\n"
        "print('ready', flush=True)\n"
        "print(*struct.unpack('llHHi', os.read(fd, 24))[2:])\n";
    ChildProcess child("/usr/bin/python3", {"-c", script}, sysfs.childSetup());
    ASSERT_TRUE(child.waitForLine("ready")) << child.output();
    ASSERT_TRUE(sysfs.sendKey(keyboard, 30, 1)) << sysfs.error();
    EXPECT_EQ(child.wait(scaled(20s)), 0) << child.output();
    // name, KEY_A, BTN_LEFT, EV_REL
    EXPECT_EQ(child.output(), "event20 Test Keyboard 1 0 0\n"
                              "event21 Test Mouse 0 1 1\n"
                              "event22 refused\n"
                              "ready\n"
                              "1 30 1\n");
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
