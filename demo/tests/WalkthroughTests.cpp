#include "BlueZDouble.h"
#include "ChildProcess.h"
#include "ControllerSysfs.h"
#include "EventLoopWait.h"

#include <QDir>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using platform::testing::ChildProcess;

namespace {

// Processes whose environment carries this device root: what the run has left behind.
int processesUnder(const QString &root) {
    return platform::testing::processesWithEnvironment("NIMBREL_ROOT=" + root.toStdString());
}

QString deviceRoot(const std::string &output) {
    static const QRegularExpression pattern("^Device root (\\S+),",
                                            QRegularExpression::MultilineOption);
    return pattern.match(QString::fromStdString(output)).captured(1);
}

TEST(Walkthrough, RunsTheEightStepsAndSummarisesWhatTheDaemonReceived) {
    QTemporaryDir output;
    ChildProcess run(WALKTHROUGH_PATH, {"--scripted", "--output", output.path().toStdString()});
    const int status = run.wait(std::chrono::seconds(120));
    const QString text = QString::fromStdString(run.output());
    ASSERT_EQ(status, 0) << run.output();

    for (int step = 1; step <= 8; ++step)
        EXPECT_TRUE(text.contains(QRegularExpression(QString("\\n  %1  passed ").arg(step))))
            << "step " << step << " in the summary\n"
            << run.output();
    EXPECT_TRUE(text.contains("All 8 steps passed."));
    EXPECT_TRUE(text.contains("press PS when prompted")) << "the success alert";
    EXPECT_TRUE(text.contains("notification: com.tesmar.nbrinitbt"));
    EXPECT_TRUE(text.contains("banner: \"Initializing Bluetooth, prepare your controller.\""));

    // The summary lists the connect with the paired address, then the default colour, on one
    // connection.
    const QString summary = text.section("\nSummary\n", 1);
    const auto connect =
        QRegularExpression(
            "conn=(\\d+) recv=20 hex=010000000100000000000000(1c666d010203)\\S* connect")
            .match(summary);
    ASSERT_TRUE(connect.hasMatch()) << run.output();
    EXPECT_TRUE(summary.contains(
        QRegularExpression("conn=" + connect.captured(1) +
                           " recv=16 hex=040000000100000000000000004efd00 set-light-color")))
        << run.output();

    const QStringList shots = QDir(output.path()).entryList({"*.png"}, QDir::Files, QDir::Name);
    ASSERT_EQ(shots.size(), 8) << shots.join(' ').toStdString();
    for (const QString &shot : shots) {
        const QImage image(output.path() + '/' + shot);
        EXPECT_EQ(image.width(), 390) << shot.toStdString();
        EXPECT_EQ(image.height(), 720) << shot.toStdString();
    }
    EXPECT_EQ(processesUnder(deviceRoot(run.output())), 0);
}

TEST(Walkthrough, CtrlCStopsEveryProcessItStarted) {
    QTemporaryDir output;
    ChildProcess run(WALKTHROUGH_PATH, {"--scripted", "--output", output.path().toStdString()});
    platform::testing::spinUntil([&] { return run.output().find("[4/8]") != std::string::npos; },
                                 std::chrono::seconds(30));
    ASSERT_NE(run.output().find("[4/8]"), std::string::npos) << run.output();
    const QString root = deviceRoot(run.output());
    ASSERT_FALSE(root.isEmpty());
    EXPECT_GE(processesUnder(root), 6) << "the run's processes, the pairing tool among them";

    EXPECT_EQ(run.stop(SIGINT, std::chrono::seconds(20)), 130) << run.output();
    EXPECT_NE(run.output().find("FAILED: interrupted"), std::string::npos);
    EXPECT_EQ(processesUnder(root), 0);
    EXPECT_FALSE(QDir(root).exists()) << "the device root is removed";
}

} // namespace

// The same run with real Bluetooth's doubles: BlueZ is python-dbusmock's with a DualShock 4 in
// range that pairs the legacy way (its PIN asked of the pairing tool through the BTstack bridge),
// /sys a umockdev tree holding that controller's LEDs for the controller daemon.
TEST(Walkthrough, TheRunPairsAndConnectsThroughBlueZAndLightsTheKernelsLeds) {
    platform::testing::BlueZDouble bluez;
    std::string error;
    ASSERT_TRUE(bluez.start(NBR_BLUEZ_TEMPLATE, &error)) << error;
    const QString address = QStringLiteral("1C:66:6D:01:02:03");
    ASSERT_TRUE(bluez.addAdapter(QStringLiteral("hci0")) &&
                bluez.addDiscoverableDevice(QStringLiteral("hci0"), address,
                                            QStringLiteral("Wireless Controller"), 0x002508, -45,
                                            std::chrono::milliseconds(1000)) &&
                bluez.setDevicePin(address, QStringLiteral("5820")))
        << bluez.error();
    platform::testing::ControllerSysfs sysfs;
    const auto pad = sysfs.addDualShock4("1c:66:6d:01:02:03");

    platform::testing::ChildSetup setup{sysfs.childEnvironment()};
    setup.environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + bluez.busAddress());
    QTemporaryDir output;
    ChildProcess run(WALKTHROUGH_PATH,
                     {"--scripted", "--real-controller", "--output", output.path().toStdString()},
                     setup);
    ASSERT_EQ(run.wait(std::chrono::seconds(120)), 0) << run.output();
    EXPECT_NE(run.output().find("All 8 steps passed."), std::string::npos);
    EXPECT_EQ(bluez.deviceProperty(address, QStringLiteral("Paired")), QVariant(true));
    EXPECT_EQ(bluez.deviceProperty(address, QStringLiteral("Trusted")), QVariant(true));
    EXPECT_NE(run.output().find("controller daemon: light bar 004efd shown through "
                                "/sys/class/leds/" + pad.leds + ":{red,green,blue}"),
              std::string::npos)
        << run.output();
    std::string shown;
    for (const char *colour : {"red", "green", "blue", "global"})
        shown += sysfs.brightness(pad.leds + ":" + colour) + " ";
    EXPECT_EQ(shown, "0 78 253 1 ");
}
