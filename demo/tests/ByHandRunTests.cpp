// The walkthrough done by hand on a display of the test's own: it starts without noise, its
// console tells what the window shows and what the controller daemon made of it (its bytes
// only with --verbose), and Ctrl-C ends it.
#include "TestTimeScale.h"
#include "XvfbDisplay.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::Not;
using namespace std::chrono_literals;

namespace {

class ByHandRun : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(display_.isReady()) << display_.error();
        run_.setProgram(WALKTHROUGH_PATH);
        run_.setArguments({"--by-hand", "--output", output_.path()});
        run_.start();
        ASSERT_TRUE(run_.waitForStarted());
        ASSERT_TRUE(waitForOutput("Close the window or press Ctrl-C to end."))
            << out_.toStdString();
        const QString address =
            QRegularExpression("private session bus (unix:\\S+)").match(out_).captured(1);
        ASSERT_FALSE(address.isEmpty()) << out_.toStdString();
        bus_ = QDBusConnection::connectToBus(address, "by-hand");
        ASSERT_TRUE(bus_->isConnected());
    }
    void TearDown() override {
        // What each process of the run said, for a failure to be read.
        if (HasFailure())
            for (const QFileInfo &log : QDir(output_.path() + "/logs").entryInfoList(QDir::Files)) {
                QFile file(log.filePath());
                if (file.open(QIODevice::ReadOnly))
                    std::printf("--- %s\n%s\n", qPrintable(log.fileName()),
                                file.readAll().right(2000).constData());
            }
        if (run_.state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(run_.processId()), SIGKILL);
            run_.waitForFinished();
        }
        QDBusConnection::disconnectFromBus("by-hand");
    }

    // Until standard output holds `text` `count` times.
    bool waitForOutput(const QString &text, std::chrono::milliseconds timeout = 30s,
                       qsizetype count = 1) {
        QElapsedTimer clock;
        clock.start();
        while (out_.count(text) < count &&
               clock.elapsed() < platform::testing::scaled(timeout).count()) {
            run_.waitForReadyRead(100);
            out_ += QString::fromUtf8(run_.readAllStandardOutput());
            err_ += QString::fromUtf8(run_.readAllStandardError());
        }
        return out_.count(text) >= count;
    }
    // Picks `choice` on the list behind `row` and goes back once the choice is stored, which the
    // console tells by the preferences' notification.
    void choose(const QString &row, const QString &choice) {
        const QString stored = "  notification: com.tesmar.nbrprefs.changed";
        const qsizetype before = out_.count(stored);
        ASSERT_TRUE(tap(row));
        ASSERT_TRUE(tap(choice));
        ASSERT_TRUE(waitForOutput(stored, 30s, before + 1)) << out_.toStdString();
        call("Back");
        QElapsedTimer clock;
        clock.start();
        while (call("Title").toString() != "Nimbrel" && clock.elapsed() < 10000)
            QThread::msleep(50);
        ASSERT_EQ(call("Title").toString(), "Nimbrel");
    }
    QVariant call(const QString &method, const QVariantList &arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "platform.preferences", "/Preferences", "platform.preferences.Control", method);
        message.setArguments(arguments);
        const QDBusMessage reply = bus_->call(message, QDBus::Block, 10000);
        return reply.arguments().value(0);
    }
    // Taps `row` once it takes taps, as a person waits for a screen to come up.
    bool tap(const QString &row) {
        for (QElapsedTimer clock; !clock.isValid() || clock.elapsed() < 10000;
             QThread::msleep(50)) {
            if (!clock.isValid())
                clock.start();
            if (call("Tap", {row}).toBool())
                return true;
        }
        return false;
    }

    platform::testing::XvfbDisplay display_;
    QTemporaryDir output_;
    QProcess run_;
    std::optional<QDBusConnection> bus_;
    QString out_, err_;
};

} // namespace

TEST_F(ByHandRun, StartsQuietlyTellsWhatTheWindowShowsAndEndsOnCtrlC) {
    choose("controller_type", "PS4 Controller (DualShock 4)");
    ASSERT_TRUE(tap("pair_label"));
    EXPECT_TRUE(waitForOutput("  HUD: \"Searching... / Press both the Share and PS buttons"));
    ASSERT_TRUE(waitForOutput("  alert: \"Nimbrel\": \"Success! / Controller paired"))
        << out_.toStdString();
    call("DismissAlert");
    choose("connection_mode", "Manual");
    ASSERT_TRUE(tap("NBRConnectID"));
    EXPECT_TRUE(waitForOutput("  controller daemon: controller connected type=1 address=1c:66:6d"));
    EXPECT_TRUE(waitForOutput("  controller daemon: light bar 004efd shown"));

    ::kill(static_cast<pid_t>(run_.processId()), SIGINT);
    ASSERT_TRUE(run_.waitForFinished(static_cast<int>(platform::testing::scaled(20s).count())));
    out_ += QString::fromUtf8(run_.readAllStandardOutput());
    err_ += QString::fromUtf8(run_.readAllStandardError());
    EXPECT_EQ(run_.exitCode(), 130);
    // Nothing about files nobody named, and the daemon's bytes only when asked for.
    EXPECT_EQ(err_.toStdString(), "");
    EXPECT_THAT(out_.toStdString(), Not(HasSubstr("recv=")));
}
