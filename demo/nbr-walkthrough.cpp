// nbr-walkthrough: the typical run of pairing a DualShock 4 and connecting it, with every
// process real, under a fresh device root and a private session bus.
//
//   nbr-walkthrough [--output DIR] [--scripted | --by-hand] [--verbose]
//                   [--real-controller [--paired ADDRESS]]
//
// Under a display the user does the run in the Settings window (--by-hand); otherwise, or with
// --scripted, the window is worked offscreen step by step and each step's screenshot goes to
// DIR (default "walkthrough"). Exit status: 0 when every step passed, 1 when one failed, 2 when
// the processes did not come up or the command line is wrong, 130 on Ctrl-C.
#include "ToolOptions.h"
#include "Walkthrough.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>

namespace {
bool displayPresent() {
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform == "offscreen" || platform == "minimal")
        return false;
    return !qgetenv("DISPLAY").isEmpty() || !qgetenv("WAYLAND_DISPLAY").isEmpty();
}

const platform::ToolDescription kTool{
    "nbr-walkthrough",
    "The typical run: pairs a simulated DualShock 4 through the Settings window and connects it, "
    "with every process real, under a fresh device root and a private session bus.",
    "nbr-walkthrough [--output DIR] [--scripted | --by-hand] [--verbose]\n"
    "                       [--real-controller [--paired ADDRESS]]\n",
    "  --output DIR   screenshots and logs go to DIR (walkthrough)\n"
    "  --scripted     work the window offscreen, step by step (the default without a display)\n"
    "  --by-hand      show the window and leave the run to the user (the default with one)\n"
    "  --verbose      also print every message the controller daemon receives, byte for byte,\n"
    "                 in the by-hand run\n"
    "  --real-controller\n"
    "                 a real DualShock 4: the pairing tool's radio is BlueZ on the system bus\n"
    "                 (nbr-btstackd), and the controller daemon connects the controller\n"
    "                 through BlueZ and lights its light bar through the kernel\n"
    "  --paired ADDRESS\n"
    "                 store ADDRESS (1c:66:6d:01:02:03) as the paired DualShock 4's: a\n"
    "                 controller already paired with the desktop, connected from the page\n"
    "Exit status: 0 every step passed, 1 a step failed, 2 the processes did not come up or a\n"
    "usage error, 130 Ctrl-C.\n"};

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({"output", "Folder for screenshots and logs.", "DIR", "walkthrough"});
    parser.addOption({"scripted", "Work the window offscreen, step by step."});
    parser.addOption({"by-hand", "Show the window and leave the run to the user."});
    parser.addOption({"verbose", "Print every message the controller daemon receives."});
    parser.addOption({"real-controller", "Connect the controller through BlueZ and the kernel."});
    parser.addOption({"paired", "The paired DualShock 4's address.", "ADDRESS"});
    if (!parser.parse(app.arguments()))
        return platform::usageError(kTool, parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        return platform::usageError(kTool, "unexpected " +
                                               parser.positionalArguments().first().toStdString());
    if (parser.isSet("scripted") && parser.isSet("by-hand"))
        return platform::usageError(kTool, "--scripted or --by-hand, not both");
    const bool byHand = parser.isSet("by-hand") || (!parser.isSet("scripted") && displayPresent());
    std::optional<QByteArray> paired;
    if (parser.isSet("paired")) {
        const QString text = parser.value("paired");
        static const QRegularExpression form("^[0-9A-Fa-f]{2}(:[0-9A-Fa-f]{2}){5}$");
        if (!form.match(text).hasMatch())
            return platform::usageError(kTool, "--paired: not a Bluetooth address: " +
                                                   text.toStdString());
        if (!parser.isSet("real-controller") || !byHand)
            return platform::usageError(kTool, "--paired is for a by-hand run with "
                                               "--real-controller");
        paired = QByteArray::fromHex(text.toLatin1());
    }

    Walkthrough walkthrough(
        WalkthroughPaths{
            .preferences = PREFERENCES_PATH,
            .springboard = SPRINGBOARD_PATH,
            .notificationRecorder = NOTIFICATION_RECORDER_PATH,
            .btstackSimulator = BTSTACK_SIMULATOR_PATH,
            .btstackBridge = BTSTACK_BRIDGE_PATH,
            .controllerDaemon = CONTROLLER_DAEMON_PATH,
            .notifyutil = NOTIFYUTIL_PATH,
            .discoveryTool = DISCOVERY_TOOL_PATH,
            .bannerPlugin = BANNER_PLUGIN_PATH,
            .bundle = BUNDLE_PATH,
            .scenario = SCENARIO_PATH,
        },
        parser.value("output"), parser.isSet("verbose"), parser.isSet("real-controller"), paired);
    QString error;
    if (!walkthrough.start(byHand, &error)) {
        std::fprintf(stderr, "nbr-walkthrough: %s\n", qPrintable(error));
        return 2;
    }
    const int status = byHand ? walkthrough.runByHand() : walkthrough.runScripted();
    walkthrough.stop();
    return status;
}
