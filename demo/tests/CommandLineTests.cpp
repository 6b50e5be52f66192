// Every program a person runs answers --help and --version without a display, a bus or a
// daemon, and takes an option it does not know as a usage error; nbrctl sends nothing it has
// not understood.
#include "ControllerDaemonProcess.h"
#include "TestDeviceRoot.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs `program` to its end without any display or bus to lean on.
Ran run(const QString &program, const QStringList &arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"})
        environment.remove(name);
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

struct Tool {
    const char *name;
    const char *path;
    bool rejectsUnknownOptions = true;
};

const Tool kTools[] = {
    {"nbr-walkthrough", WALKTHROUGH_PATH},
    {"nbrctl", NBRCTL_PATH},
    {"nbr-controllerd", CONTROLLERD_PATH},
    {"btstack-simulator", SIMULATOR_PATH},
    {"nbr-btstackd", BRIDGE_PATH},
    {"springboard", SPRINGBOARD_PATH},
    {"notificationrecorder", RECORDER_PATH},
    {"notifyutil", NOTIFYUTIL_PATH},
    {"messagingutil", MESSAGINGUTIL_PATH},
    {"Preferences", PREFERENCES_PATH},
    // Started with arguments it does not know, the pairing tool works as it always has.
    {"nbrdiscovery", TOOL_PATH, false},
    {"nbr-keymap-snapshot", KEYMAP_SNAPSHOT_PATH},
    {"nbr-colorchooser-snapshot", COLORCHOOSER_SNAPSHOT_PATH},
    {"nbr-colorpicker-snapshot", SNAPSHOT_TOOL},
};

} // namespace

TEST(CommandLine, EveryToolAnswersHelpAndVersionAndRefusesAnUnknownOption) {
    for (const Tool &tool : kTools) {
        SCOPED_TRACE(tool.name);
        const Ran help = run(tool.path, {"--help"});
        EXPECT_EQ(help.status, 0);
        EXPECT_THAT(help.out, StartsWith(std::string("usage: ") + tool.name));
        // The usage, then a line on what the tool is for.
        EXPECT_THAT(help.out, ::testing::ContainsRegex("\n\n[A-Z][^\n]+\\.\n"));
        EXPECT_EQ(help.err, "");

        const Ran version = run(tool.path, {"--version"});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, std::string(tool.name) + " (Nimbrel) " + NBR_VERSION + "\n");
        EXPECT_EQ(version.err, "");

        if (!tool.rejectsUnknownOptions)
            continue;
        const Ran unknown = run(tool.path, {"--no-such-option"});
        EXPECT_EQ(unknown.status, 2);
        EXPECT_EQ(unknown.out, "");
        EXPECT_THAT(unknown.err, HasSubstr("usage: " + std::string(tool.name)));
        EXPECT_THAT(unknown.err, HasSubstr("no-such-option"));
    }
}

TEST(CommandLine, NbrctlSendsNothingItDoesNotUnderstand) {
    platform::testing::TestDeviceRoot root;
    platform::testing::ControllerDaemonProcess daemon;
    ASSERT_TRUE(daemon.start(CONTROLLERD_PATH, root.path("/tmp/daemon.log")));
    for (const QStringList &arguments :
         std::vector<QStringList>{{"color", "zzz"},
                                  {"color", "12345"},
                                  {"color", "00ff00x"},
                                  {"color", "gg0000"},
                                  {"connect", "1", "zz:66:6d:01:02:03"},
                                  {"connect", "9", "1c:66:6d:01:02:03"},
                                  {"disconnect", "one"},
                                  {"query", "extra"},
                                  {"dance"}}) {
        SCOPED_TRACE(arguments.join(' ').toStdString());
        const Ran refused = run(NBRCTL_PATH, arguments);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_THAT(refused.err, HasSubstr("usage: nbrctl"));
    }
    // A good colour goes through, so the daemon was there to hear the bad ones.
    const Ran sent = run(NBRCTL_PATH, {"color", "00fF80"});
    EXPECT_EQ(sent.status, 0);
    EXPECT_EQ(sent.out, "client: light-bar colour 00ff80 sent\n");
    ASSERT_TRUE(daemon.waitForLog("set-light-color"));
    ASSERT_EQ(daemon.received().size(), 1u) << daemon.log();
    EXPECT_EQ(daemon.received()[0].length, 16);
}
