// nbr-btstackd: a BTstack daemon on top of BlueZ. Serves BTstack's socket "/tmp/BTstack" under
// the device root while BlueZ has an adapter, with BlueZ (system bus) as the radio. Prints
// "ready" once it follows BlueZ, then one line per command received.
#include "BlueZBridge.h"
#include "DevicePath.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdio>

namespace {

void printLine(const std::string &line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const platform::ToolDescription kTool{
    "nbr-btstackd",
    "A BTstack daemon whose radio is BlueZ on the system bus: serves \"/tmp/BTstack\" under "
    "NIMBREL_ROOT while BlueZ has an adapter, turns inquiries into discovery and a channel to a "
    "controller into pairing (its PIN asked of the client) and a connection.",
    "nbr-btstackd [--log-events]\n",
    "  --log-events   also print every event sent\n"};

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    bool logEvents = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--log-events")
            logEvents = true;
        else
            return platform::usageError(kTool, std::string("unknown option ") + argv[i]);
    }
    QCoreApplication app(argc, argv);
    platform::btstack::BlueZBridge bridge(QDBusConnection::systemBus(),
                                          platform::devicePath(BTSTACK_UNIX), printLine);
    bridge.setLogEvents(logEvents);
    std::string error;
    if (!bridge.start(error)) {
        std::fprintf(stderr, "nbr-btstackd: %s\n", error.c_str());
        return 1;
    }
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    printLine("ready");
    return app.exec();
}
