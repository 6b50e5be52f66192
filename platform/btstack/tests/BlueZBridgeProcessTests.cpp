// The pairing tool through nbr-btstackd, the BTstack daemon on BlueZ: both real processes, BlueZ
// python-dbusmock's on a system bus of the test's own, with controllers in range that pair the
// legacy way (a PIN), the secure simple way (none), or not at all.
#include "BlueZDouble.h"
#include "PairingToolRun.h"

#include <gmock/gmock.h>

using namespace pairing_tool_run;
using platform::testing::BlueZDouble;
using platform::testing::occurrences;
using platform::testing::spinUntil;
using ::testing::ElementsAre;

namespace {

const QString kAdapter = QStringLiteral("hci0");
const QString kPadAddress = QString::fromStdString(kPad);

class ToolThroughBridge : public Tool {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(bluez.start(NBR_BLUEZ_TEMPLATE, &error)) << error;
    }

    // A controller that discovery finds 200 ms after it starts.
    void inRange(const QString &address, quint32 deviceClass, const QString &pin = {}) {
        ASSERT_TRUE(bluez.addDiscoverableDevice(kAdapter, address,
                                                QStringLiteral("Wireless Controller"),
                                                deviceClass, -45, 200ms))
            << bluez.error();
        if (!pin.isEmpty()) {
            ASSERT_TRUE(bluez.setDevicePin(address, pin)) << bluez.error();
        }
    }

    void startBridge() {
        platform::testing::ChildSetup setup;
        setup.environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + bluez.busAddress());
        startDaemon(BRIDGE_PATH, {}, setup);
    }

    // Bridge, unlock, listener and tool, as the settings page runs them.
    void run() {
        ASSERT_NO_FATAL_FAILURE(startBridge());
        ASSERT_NO_FATAL_FAILURE(unlock());
        ASSERT_NO_FATAL_FAILURE(listen(true));
        startTool();
    }

    std::string bridgeLog() { return simulator->output(); }
    bool deviceSays(const char *property, bool value) {
        return spinUntil(
            [&] {
                return bluez.deviceProperty(kPadAddress, QString::fromLatin1(property)) ==
                       QVariant(value);
            },
            5s);
    }

    BlueZDouble bluez;
};

} // namespace

TEST_F(ToolThroughBridge, PairsALegacyDualShock4WithTheToolsPinAndDisconnectsItAtTheEnd) {
    ASSERT_TRUE(bluez.addAdapter(kAdapter));
    ASSERT_NO_FATAL_FAILURE(inRange(kPadAddress, 0x002508, QStringLiteral("5820")));
    ASSERT_NO_FATAL_FAILURE(run());
    ASSERT_TRUE(waitForUpdates(5, 20s)) << bridgeLog();
    EXPECT_THAT(updates(listener->output()),
                ElementsAre(Update{4, ""}, Update{0, ""}, Update{1, ""}, Update{2, kPadHex},
                            Update{2, kPadHex}));
    EXPECT_EQ(storedAddress(), kPadHex);
    // BlueZ asked the bridge's agent, the tool answered with its PIN for the class, and BlueZ
    // took it: the double pairs only with the right one.
    const std::string log = bridgeLog();
    EXPECT_EQ(occurrences(log, "pin requested /org/bluez/hci0/dev_1C_66_6D_01_02_03"), 1) << log;
    EXPECT_EQ(
        occurrences(log, "hci_pin_code_request_reply address=" + kPad + " pin_length=4 pin=5820"),
        1);
    EXPECT_TRUE(deviceSays("Paired", true));
    EXPECT_TRUE(deviceSays("Trusted", true)) << "so that it comes back by itself later";
    EXPECT_TRUE(deviceSays("Connected", true));

    ASSERT_NO_FATAL_FAILURE(interruptAndWindDown([&] {
        ASSERT_TRUE(waitForUpdates(6));
        tool->signal(SIGINT);
    }));
    EXPECT_EQ(occurrences(bridgeLog(), "hci_disconnect handle="), 1);
    EXPECT_TRUE(deviceSays("Connected", false));
    EXPECT_EQ(bluez.callsOf(kPadAddress, QStringLiteral("Disconnect")), 1);
    EXPECT_EQ(bluez.adapterProperty(QStringLiteral("Powered")), QVariant(true))
        << "other programs use the adapter";
    EXPECT_EQ(errorOutput(), "");
}

// The tool's own class filter decides: a device of another class in the same search is never
// paired, and a controller that asks for no PIN (Secure Simple Pairing) gets no PIN event.
TEST_F(ToolThroughBridge, IgnoresARejectedClassAndPairsASecureSimpleControllerWithoutAPin) {
    ASSERT_TRUE(bluez.addAdapter(kAdapter));
    const QString stranger = QStringLiteral("A0:B1:C2:D3:E4:F5");
    ASSERT_TRUE(bluez.addDiscoverableDevice(kAdapter, stranger, QStringLiteral("Headset"),
                                            0x002509, -30, 50ms));
    ASSERT_NO_FATAL_FAILURE(inRange(kPadAddress, 0x000508));
    ASSERT_NO_FATAL_FAILURE(run());
    ASSERT_TRUE(waitForUpdates(4, 20s)) << bridgeLog();
    // Class 0x000508 opens its control channel, then its interrupt channel: one report.
    EXPECT_THAT(updates(listener->output()),
                ElementsAre(Update{4, ""}, Update{0, ""}, Update{1, ""}, Update{2, kPadHex}));
    EXPECT_EQ(storedAddress(), kPadHex);
    EXPECT_EQ(occurrences(bridgeLog(), "pin requested"), 0);
    EXPECT_EQ(bluez.callsOf(stranger, QStringLiteral("Pair")), 0);
    EXPECT_TRUE(deviceSays("Paired", true));
}

// A pairing that fails is not reported: the tool stays where it is until the page stops it.
TEST_F(ToolThroughBridge, APairingBlueZTurnsDownIsNeverReportedAsPaired) {
    ASSERT_TRUE(bluez.addAdapter(kAdapter));
    // The tool answers 5820 for this class; the controller wants another PIN.
    ASSERT_NO_FATAL_FAILURE(inRange(kPadAddress, 0x002508, QStringLiteral("0000")));
    ASSERT_NO_FATAL_FAILURE(run());
    ASSERT_TRUE(waitForUpdates(3, 20s));
    ASSERT_TRUE(spinUntil(
        [&] {
            return bridgeLog().find("BlueZ would not pair: org.bluez.Error.AuthenticationFailed") !=
                   std::string::npos;
        },
        10s))
        << bridgeLog();
    settle(true);
    EXPECT_THAT(updates(listener->output()), ElementsAre(Update{4, ""}, Update{0, ""},
                                                         Update{1, ""}));
    EXPECT_TRUE(deviceSays("Paired", false));
    EXPECT_TRUE(tool->running());
}

// BlueZ going away while a controller waits for its PIN (class 0x000508 has none in the tool's
// table, so the request stays open): the pairing fails at once, and without an adapter the next
// run of the tool finds no daemon to open, which it reports as Bluetooth inactive.
TEST_F(ToolThroughBridge, BlueZLeavingMidPairingFailsItAndTheNextRunFindsBluetoothInactive) {
    ASSERT_TRUE(bluez.addAdapter(kAdapter));
    ASSERT_NO_FATAL_FAILURE(inRange(kPadAddress, 0x000508, QStringLiteral("1234")));
    ASSERT_NO_FATAL_FAILURE(run());
    ASSERT_TRUE(spinUntil([&] { return occurrences(bridgeLog(), "pin requested") == 1; }, 20s))
        << bridgeLog();
    bluez.stopBlueZ();
    ASSERT_TRUE(spinUntil(
        [&] {
            return bridgeLog().find("not listening until one appears") != std::string::npos;
        },
        10s))
        << bridgeLog();
    EXPECT_NE(bridgeLog().find("BlueZ left the system bus"), std::string::npos);
    EXPECT_TRUE(simulator->running());
    settle(true);
    EXPECT_THAT(updates(listener->output()), ElementsAre(Update{4, ""}, Update{0, ""},
                                                         Update{1, ""}));

    tool->signal(SIGINT);
    EXPECT_EQ(tool->wait(10s), 0);
    listener.reset();
    ASSERT_NO_FATAL_FAILURE(listen(true));
    startTool();
    ASSERT_TRUE(waitForUpdates(1));
    settle(true);
    EXPECT_THAT(updates(listener->output()), ElementsAre(Update{3, ""}));
}
