#include "ChildProcess.h"
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
