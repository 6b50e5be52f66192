// btstack-simulator [--scenario FILE] [--device DEVICE]... [options]
// A BTstack daemon with a simulated controller and virtual devices in range. Prints "ready" once
// it listens on "/tmp/BTstack" under the device root, then one line per command received.
#include "BTstackSimulator.h"
#include "DevicePath.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>

namespace {

void printLine(const std::string &line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

const platform::ToolDescription kTool{
    "btstack-simulator",
    "A BTstack daemon with a simulated radio and virtual devices in range, listening on "
    "\"/tmp/BTstack\" under NIMBREL_ROOT.",
    "btstack-simulator [--scenario FILE] [--device DEVICE]... [options]\n",
    "  --device address=AA:BB:CC:DD:EE:FF,class=0x002508[,pin=5820][,rssi=-40][,name=TEXT]\n"
    "           [,delay=MS][,refuse=PSM][,inquiries=N]\n"
    "  --scenario FILE            lines of \"option value\" (options without dashes)\n"
    "  --address ADDR             the controller's own address\n"
    "  --power-on-delay MS        --power-on-fails   --system-bluetooth-enabled 0|1\n"
    "  --command-delay MS (0)\n"
    "  --inquiry-unit MS (1280)   --page-timeout MS (5120)   --pairing-timeout MS (10000)\n"
    "  --group-responses          responses due together share one inquiry result event\n"
    "  --log-events               also print every event sent\n"};

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    QCoreApplication app(argc, argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    auto scenario = platform::btstack::SimulatorScenario::fromArguments(args, error);
    if (!scenario)
        return platform::usageError(kTool, error);
    platform::btstack::BTstackSimulator simulator(*scenario, printLine);
    if (!simulator.listen(platform::devicePath(BTSTACK_UNIX), error)) {
        std::fprintf(stderr, "btstack-simulator: %s\n", error.c_str());
        return 1;
    }
    for (const auto &device : scenario->devices) {
        char text[96];
        std::snprintf(text, sizeof text, "device %s class=0x%06x",
                      platform::btstack::formatAddress(device.address).c_str(),
                      device.classOfDevice);
        printLine(text);
    }
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    printLine("ready");
    return app.exec();
}
