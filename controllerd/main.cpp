// nbr-controllerd: the controller daemon. Serves the control socket under the device root until
// SIGINT or SIGTERM; prints "ready" once it listens. The controller is simulated unless
// "--backend linux" hands it to BlueZ and the kernel.
#include "ControllerDaemon.h"
#include "LinuxBackend.h"
#include "SimulatorBackend.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv) {
    const platform::ToolDescription tool{
        "nbr-controllerd",
        "The controller daemon: serves the control socket \"/tmp/nbrcontrol.sock\" under "
        "NIMBREL_ROOT, logs every message it receives and prints \"ready\" once it listens. "
        "The controller is simulated unless --backend linux connects a real one through BlueZ "
        "and lights its light bar through the kernel's driver.",
        DaemonOptions::usage()};
    if (auto status = platform::answerHelpOrVersion(argc, argv, tool))
        return *status;
    QCoreApplication app(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    auto options = DaemonOptions::parse(arguments, error);
    if (!options)
        return platform::usageError(tool, error);
    std::unique_ptr<ControllerBackend> backend;
    if (options->backend == DaemonOptions::Backend::Linux)
        backend = std::make_unique<controllerd::LinuxBackend>(options->grabKeyboards);
    ControllerDaemon daemon(std::move(*options), std::move(backend));
    if (!daemon.listen(error)) {
        std::fprintf(stderr, "nbr-controllerd: %s\n", error.c_str());
        return 1;
    }
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    // The simulated controller walking away (out of range, battery) is provoked with SIGUSR1.
    if (auto *simulator = qobject_cast<SimulatorBackend *>(&daemon.backend())) {
        auto *walkAway = new platform::UnixSignalWatcher({SIGUSR1}, &app);
        QObject::connect(walkAway, &platform::UnixSignalWatcher::received, simulator,
                         &SimulatorBackend::walkAway);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
