// The daemon on its Linux backend as a process, a DualShock 4 and BlueZ's doubles around it.
#include "LinuxDaemonOnDoubles.h"

#include <fstream>
#include <poll.h>

using namespace linux_daemon;
using platform::testing::ControllerSysfs;

namespace {

const QString kAdapter = QStringLiteral("hci0");
const QString kAddress = QStringLiteral("1C:66:6D:01:02:03");
constexpr std::array<std::uint8_t, 6> kAddressBytes = {0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03};
constexpr std::array<std::uint8_t, 6> kStrangerBytes = {0x1c, 0x66, 0x6d, 0x0a, 0x0b, 0x0c};

// The CRC-32 of the zlib polynomial, bit by bit: a computation of its own, not the daemon's
// table.
std::uint32_t bitwiseCrc32(const std::vector<std::uint8_t> &bytes) {
    std::uint32_t crc = 0xffffffffu;
    for (std::uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

class LinuxBackendProcess : public LinuxDaemonOnDoubles {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(LinuxDaemonOnDoubles::SetUp());
        ASSERT_TRUE(pairController()) << bluez_.error();
    }
    bool pairController() {
        return bluez_.addAdapter(kAdapter) && bluez_.addPairedDevice(kAdapter, kAddress);
    }

    // What the pairing tool and the colour chooser leave behind.
    void storePreferences(const char *colour) {
        const platform::PlistValue::Data address(kAddressBytes.begin(), kAddressBytes.end());
        ASSERT_TRUE(root_.writePlist(NBRPreferencesPath,
                                     {{NBRControllerTypeKey, 1},
                                      {NBRBluetoothAddressKey, address},
                                      {NBRLEDColorKey, colour}},
                                     platform::PlistFormat::Binary));
    }

    static void sendColour(std::uint32_t pixel) {
        int fd = NBRConnectToControlSocket();
        ASSERT_GE(fd, 0);
        NBRControlSetLightColor(fd, pixel);
        ::close(fd);
    }

    std::string leds(const ControllerSysfs::Controller &pad) const {
        std::string shown;
        for (const char *colour : {"red", "green", "blue", "global"})
            shown += (shown.empty() ? "" : " ") + sysfs_.brightness(pad.leds + ":" + colour);
        return shown;
    }
    bool ledsShow(const ControllerSysfs::Controller &pad, const std::string &expected) const {
        return spinUntil([&] { return leds(pad) == expected; }, scaled(5s));
    }
    // As a fresh connection leaves them.
    void darken(const ControllerSysfs::Controller &pad) const {
        for (const char *colour : {"red", "green", "blue"})
            std::ofstream(sysfs_.root() + "/sys/class/leds/" + pad.leds + ":" + colour +
                          "/brightness")
                << "0\n";
    }

};

} // namespace

TEST_F(LinuxBackendProcess, ConnectsLightsAndFollowsThePairedController) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03");
    storePreferences("ff8000");
    start();
    EXPECT_FALSE(connected());

    auto pending = startConnect(1, kAddressBytes);
    EXPECT_TRUE(finish(pending).acknowledged) << log();
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRControllerDetectedNotification}));
    EXPECT_EQ(bluez_.deviceProperty(kAddress, QStringLiteral("Trusted")), QVariant(true))
        << "so that its PS button can bring it back without us";
    EXPECT_TRUE(connected());
    EXPECT_TRUE(ledsShow(pad, "255 128 0 1")) << "the stored colour at once: " << leds(pad);

    sendColour(0x00ff00);
    EXPECT_TRUE(ledsShow(pad, "0 255 0 1")) << leds(pad);

    // Switched off or out of reach, then back with its PS button: the colour comes back with it.
    ASSERT_TRUE(bluez_.disconnectDevice(kAdapter, kAddress));
    EXPECT_TRUE(posted({NBRDisconnectedNotification}));
    EXPECT_FALSE(connected());
    darken(pad);
    ASSERT_TRUE(bluez_.connectDevice(kAdapter, kAddress));
    EXPECT_TRUE(posted({NBRControllerDetectedNotification}));
    EXPECT_TRUE(connected());
    EXPECT_TRUE(ledsShow(pad, "0 255 0 1")) << leds(pad);

    disconnect(1);
    EXPECT_TRUE(posted({NBRDisconnectedNotification}));
    EXPECT_FALSE(connected());
    EXPECT_TRUE(spinUntil([&] { return bluez_.callsOf(kAddress, QStringLiteral("Disconnect")) == 1; }));
    EXPECT_EQ(bluez_.deviceProperty(kAddress, QStringLiteral("Connected")), QVariant(false));
}

// The page waits 20 s for a connect; what cannot happen is answered long before, with the reason
// in the log.
TEST_F(LinuxBackendProcess, AConnectThatCannotHappenIsRefusedAtOnceAndSaysWhy) {
    sysfs_.addDualShock4("1c:66:6d:01:02:03");
    start();
    const auto refused = [&](std::array<std::uint8_t, 6> address, const std::string &why) {
        auto pending = startConnect(1, address);
        const ConnectOutcome outcome = finish(pending);
        EXPECT_FALSE(outcome.acknowledged) << why;
        EXPECT_LT(outcome.took, scaled(10s)) << why;
        EXPECT_TRUE(daemon_.waitForLog("connect refused: " + why)) << log();
        EXPECT_FALSE(connected()) << why;
    };
    refused(kStrangerBytes, "no paired controller 1C:66:6D:0A:0B:0C: pair it first");

    ASSERT_TRUE(bluez_.setAdapterPowered(false));
    refused(kAddressBytes, "the Bluetooth adapter is off");
    ASSERT_TRUE(bluez_.setAdapterPowered(true));

    ASSERT_TRUE(bluez_.replaceDeviceMethod(
        kAddress, QStringLiteral("Connect"),
        QStringLiteral("raise dbus.exceptions.DBusException('Page Timeout', "
                       "name='org.bluez.Error.Failed')")));
    refused(kAddressBytes, "BlueZ refused the connection: org.bluez.Error.Failed (Page Timeout)");

    // BlueZ goes while it is connecting: Connect returns, Connected never comes.
    ASSERT_TRUE(bluez_.replaceDeviceMethod(kAddress, QStringLiteral("Connect"),
                                           QStringLiteral("pass")));
    const int connects = bluez_.callsOf(kAddress, QStringLiteral("Connect"));
    auto pending = startConnect(1, kAddressBytes);
    ASSERT_TRUE(spinUntil(
        [&] { return bluez_.callsOf(kAddress, QStringLiteral("Connect")) == connects + 1; }));
    bluez_.stopBlueZ();
    const ConnectOutcome outcome = finish(pending);
    EXPECT_FALSE(outcome.acknowledged);
    EXPECT_TRUE(daemon_.waitForLog(
        "connect refused: the Bluetooth service (org.bluez) left the system bus while connecting"))
        << log();

    refused(kAddressBytes, "no Bluetooth service (org.bluez) on the system bus");
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRSearchingNotification,
                        NBRSearchingNotification, NBRSearchingNotification,
                        NBRSearchingNotification}));
}

TEST_F(LinuxBackendProcess, SurvivesBlueZRestartingAndFollowsTheControllerAgain) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03");
    storePreferences("ff8000");
    start();
    auto pending = startConnect(1, kAddressBytes);
    ASSERT_TRUE(finish(pending).acknowledged) << log();
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRControllerDetectedNotification}));

    bluez_.stopBlueZ();
    EXPECT_TRUE(posted({NBRDisconnectedNotification}));
    EXPECT_FALSE(connected());

    ASSERT_TRUE(bluez_.startBlueZ());
    ASSERT_TRUE(pairController()) << bluez_.error();
    darken(pad);
    ASSERT_TRUE(bluez_.connectDevice(kAdapter, kAddress));
    EXPECT_TRUE(posted({NBRControllerDetectedNotification}));
    EXPECT_TRUE(connected());
    EXPECT_TRUE(ledsShow(pad, "255 128 0 1")) << leds(pad);
}

TEST_F(LinuxBackendProcess, RestartReadsThePreferencesAgainOnTheSameSocket) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03", ControllerSysfs::LedNaming::HidPlaystation);
    storePreferences("ff8000");
    start();
    ASSERT_TRUE(bluez_.connectDevice(kAdapter, kAddress));
    EXPECT_TRUE(posted({NBRControllerDetectedNotification})) << "the stored controller, by itself";
    EXPECT_TRUE(ledsShow(pad, "255 128 0 1")) << leds(pad);

    storePreferences("0000ff");
    int fd = NBRConnectToControlSocket();
    ASSERT_GE(fd, 0);
    NBRControlRestart(fd);
    ::close(fd);
    EXPECT_TRUE(posted({NBRDisconnectedNotification, NBRControllerDetectedNotification}));
    EXPECT_TRUE(ledsShow(pad, "0 0 255 1")) << leds(pad);
    EXPECT_TRUE(connected());
}

TEST_F(LinuxBackendProcess, LightBarFaultsAreLoggedAndChangeNothingElse) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03");
    start();
    sendColour(0x123456);
    EXPECT_TRUE(daemon_.waitForLog("light bar 123456 kept (no controller connected)")) << log();
    EXPECT_EQ(leds(pad), "0 0 0 1");

    ASSERT_TRUE(sysfs_.refuseWrites(pad.leds + ":green"));
    auto pending = startConnect(1, kAddressBytes);
    EXPECT_TRUE(finish(pending).acknowledged) << "the connection is there, whatever the light";
    sendColour(0xabcdef);
    EXPECT_TRUE(daemon_.waitForLog("light bar abcdef kept (Permission denied writing /sys/class/leds/" +
                                   pad.leds + ":green/brightness (controller 1c:66:6d:01:02:03): "
                                              "the udev rule "
                                              "/lib/udev/rules.d/70-nimbrel-controller.rules"))
        << log();
    EXPECT_TRUE(connected());
}

TEST_F(LinuxBackendProcess, WithoutLedsTheReportGoesToHidrawUntilTheNodeVanishes) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03", ControllerSysfs::LedNaming::NoLeds);
    const int hidraw = sysfs_.addHidraw(pad.path, "hidraw3", 3);
    ASSERT_GE(hidraw, 0) << sysfs_.error();
    start();
    auto pending = startConnect(1, kAddressBytes);
    ASSERT_TRUE(finish(pending).acknowledged) << log();
    sendColour(0x20a0f0);

    // The colour the connection brought (the default) and then the one sent.
    std::vector<std::uint8_t> report;
    spinUntil(
        [&] {
            pollfd ready{hidraw, POLLIN, 0};
            std::uint8_t buffer[256];
            ssize_t n;
            while (::poll(&ready, 1, 0) > 0 && (n = ::read(hidraw, buffer, sizeof buffer)) > 0)
                report.insert(report.end(), buffer, buffer + n);
            return report.size() >= 2 * 78;
        },
        scaled(5s));
    ASSERT_EQ(report.size(), 2u * 78) << log();
    const std::vector<std::uint8_t> last(report.begin() + 78, report.end());
    EXPECT_EQ(last[0], 0x11);
    EXPECT_EQ(last[1], 0xc0);
    EXPECT_EQ(last[3], 0x02) << "only the light bar is marked valid";
    EXPECT_EQ((std::vector<std::uint8_t>(last.begin() + 8, last.begin() + 11)),
              (std::vector<std::uint8_t>{0x20, 0xa0, 0xf0}));
    std::vector<std::uint8_t> covered{0xa2};
    covered.insert(covered.end(), last.begin(), last.begin() + 74);
    const std::uint32_t crc = bitwiseCrc32(covered);
    EXPECT_EQ((std::vector<std::uint8_t>(last.begin() + 74, last.end())),
              (std::vector<std::uint8_t>{std::uint8_t(crc), std::uint8_t(crc >> 8),
                                         std::uint8_t(crc >> 16), std::uint8_t(crc >> 24)}));

    sysfs_.closeHidraw(hidraw);
    sysfs_.removeDevice(pad.path);
    sendColour(0x102030);
    EXPECT_TRUE(daemon_.waitForLog("light bar 102030 kept (No DualShock 4 with address "
                                   "1c:66:6d:01:02:03 is connected"))
        << log();
    EXPECT_TRUE(connected()) << "BlueZ still has it; the light bar alone went";
}

// A PS3 controller has no stored address: whichever paired controller connects first is it.
TEST_F(LinuxBackendProcess, AConnectWithoutAnAddressTakesTheFirstControllerToCome) {
    start();
    auto pending = startConnect(0, {});
    ASSERT_TRUE(spinUntil([this] { return !posted_.names().empty(); }));
    EXPECT_EQ(pending.wait_for(300ms), std::future_status::timeout) << "nothing came yet";
    ASSERT_TRUE(bluez_.connectDevice(kAdapter, kAddress));
    EXPECT_TRUE(finish(pending).acknowledged) << log();
    EXPECT_TRUE(posted({NBRSearchingNotification, NBRControllerDetectedNotification}));
    EXPECT_TRUE(daemon_.waitForLog("controller connected type=0 address=1c:66:6d:01:02:03"))
        << log();
    EXPECT_EQ(log().find("address=00:00:00:00:00:00"), std::string::npos)
        << "the address found stays: " << log();
}

// The pairing tool stores a controller while the daemon runs: its PS button then connects it
// without a restart.
TEST_F(LinuxBackendProcess, AControllerStoredWhileRunningIsFollowed) {
    const auto pad = sysfs_.addDualShock4("1c:66:6d:01:02:03");
    start();
    // Its first reading done: a file stored before it is the daemon's start, not a change.
    ASSERT_TRUE(daemon_.waitForLog("linux backend: no preferences at")) << log();
    storePreferences("00ff00");
    ASSERT_TRUE(daemon_.waitForLog("preferences changed, controller 1c:66:6d:01:02:03 type=1"))
        << log();
    ASSERT_TRUE(bluez_.connectDevice(kAdapter, kAddress));
    EXPECT_TRUE(posted({NBRControllerDetectedNotification}));
    EXPECT_TRUE(connected());
    EXPECT_TRUE(ledsShow(pad, "0 78 253 1")) << "the colour it had, not one read mid-drag";
}
