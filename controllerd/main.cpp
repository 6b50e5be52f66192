// nbr-controllerd: the controller daemon stand-in. Serves the control socket under the device
// root until SIGINT or SIGTERM; prints "ready" once it listens.
#include "ControllerDaemon.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv) {
    const platform::ToolDescription tool{
        "nbr-controllerd",
        "The controller daemon stand-in: serves the control socket \"/tmp/nbrcontrol.sock\" "
        "under NIMBREL_ROOT, logs every message it receives and prints \"ready\" once it listens.",
        DaemonOptions::usage()};
    if (auto status = platform::answerHelpOrVersion(argc, argv, tool))
        return *status;
    QCoreApplication app(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = DaemonOptions::parse(arguments, error);
    if (!options)
        return platform::usageError(tool, error);
    ControllerDaemon daemon(std::move(*options));
    if (!daemon.listen(error)) {
        std::fprintf(stderr, "nbr-controllerd: %s\n", error.c_str());
        return 1;
    }
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    // The controller walking away (out of range, battery) is provoked with SIGUSR1.
    auto *walkAway = new platform::UnixSignalWatcher({SIGUSR1}, &app);
    QObject::connect(walkAway, &platform::UnixSignalWatcher::received, &daemon,
                     [&daemon] { daemon.detachController("controller went away"); });
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
