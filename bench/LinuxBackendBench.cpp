// The controller daemon on its Linux backend, against the test doubles (BlueZ from
// python-dbusmock on a bus of its own, the DualShock 4's LEDs in a umockdev sysfs), next to the
// simulated controller in the same run:
// - a set-light-color command as the page sends it (its own connection, one send, closed) until
//   the colour has landed: the LED brightness files hold it, or the simulator's log shows it;
// - a connect command until its acknowledgement, which the Linux backend gives once BlueZ says
//   Connected; the disconnect after it is not timed.
#include "ControllerDaemonProcess.h"
#include "FileWrites.h"
#include "LinuxControllerDoubles.h"
#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "PlistValue.h"
#include "RatioReporter.h"
#include "TestDeviceRoot.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <sstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

enum class Backend { Simulator, Linux };

// Where the Linux daemon's sysfs double was: its writes cost what that filesystem makes them.
std::string g_sysfsWhere = "not made";

// One daemon under a device root of its own (and on Linux its doubles), with its DualShock 4
// connected from the start or only paired.
struct Daemon {
    Daemon(Backend backend, bool connected) : backend(backend), connected(connected) {}

    const Backend backend;
    const bool connected;
    platform::testing::TestDeviceRoot root; // NIMBREL_ROOT while it lives: first made, last gone
    std::unique_ptr<LinuxControllerDoubles> doubles;
    platform::testing::ControllerDaemonProcess process;
    std::string logPath = root.path("/tmp/controllerd.log");
    int colourStep = 0;
    std::string error;

    bool start() {
        platform::PlistValue::Dictionary preferences{
            {NBRControllerTypeKey, std::int32_t{NBRControllerTypeDualShock4}},
            {NBRLEDColorKey, "ff8000"}};
        std::vector<std::string> options{"--timestamps"};
        platform::testing::ChildSetup setup;
        if (backend == Backend::Linux) {
            doubles = std::make_unique<LinuxControllerDoubles>();
            if (!doubles->start(connected)) {
                error = "the doubles did not start: " + doubles->error;
                return false;
            }
            preferences[NBRBluetoothAddressKey] = LinuxControllerDoubles::addressBytes();
            options.insert(options.begin(), {"--backend", "linux"});
            setup = doubles->childSetup();
            g_sysfsWhere = doubles->sysfsInMemory() ? "in memory" : "on " + doubles->sysfs.root();
        } else if (connected) {
            options.insert(options.end(), {"--connected", "1"});
        } else {
            options.insert(options.end(), {"--connect-delay", "0"});
        }
        if (!root.writePlist(NBRPreferencesPath, std::move(preferences),
                             platform::PlistFormat::Binary)) {
            error = "the preferences file could not be written";
            return false;
        }
        if (!process.start(CONTROLLERD_PATH, logPath, std::move(options), setup)) {
            error = "the daemon did not start";
            return false;
        }
        if (backend == Backend::Linux && connected &&
            !process.waitForLog("controller connected", 10s)) {
            error = "the daemon never took the controller BlueZ holds connected";
            return false;
        }
        return true;
    }
};

// The daemon the running benchmark needs; the one before goes first, as two cannot share the
// process's device root. Benchmarks run one after another, so each daemon is made once.
std::unique_ptr<Daemon> g_daemon;

Daemon *daemonFor(Backend backend, bool connected, benchmark::State &state) {
    if (g_daemon && g_daemon->backend == backend && g_daemon->connected == connected)
        return g_daemon.get();
    g_daemon.reset();
    auto made = std::make_unique<Daemon>(backend, connected);
    if (!made->start()) {
        state.SkipWithError(made->error.c_str());
        return nullptr;
    }
    g_daemon = std::move(made);
    return g_daemon.get();
}

// Every channel differs from the step before's, so the three files hold the new colour only once
// all three writes are done.
std::uint32_t colourOfStep(int step) {
    return static_cast<std::uint32_t>((step % 256) << 16 | ((step + 85) % 256) << 8 |
                                      (step + 170) % 256);
}

// The daemon's own part of each colour, from its log: the time from the line of a
// set-light-color message to the light-bar line after it, in microseconds, sorted.
std::vector<double> daemonsOwnPart(const std::string &logPath) {
    std::vector<double> parts;
    std::istringstream lines(platform::testing::readFile(logPath));
    double received = -1;
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("t="))
            continue;
        const double at = std::stod(line.substr(2));
        if (line.find(" set-light-color") != std::string::npos) {
            received = at;
        } else if (received >= 0 && line.find(" light bar ") != std::string::npos) {
            parts.push_back((at - received) * 1e6);
            received = -1;
        }
    }
    std::sort(parts.begin(), parts.end());
    return parts;
}

double percentile(const std::vector<double> &sorted, double p) {
    return sorted.empty() ? -1
                          : sorted[std::min(sorted.size() - 1, std::size_t(p * sorted.size()))];
}

// Per backend, from the last run of its colour benchmark.
std::map<Backend, std::vector<double>> g_daemonsOwnPart;

void colourToLightBar(benchmark::State &state, Backend backend) {
    Daemon *daemon = daemonFor(backend, true, state);
    if (!daemon)
        return;
    FileWrites writes(backend == Backend::Linux ? daemon->doubles->brightnessFiles()
                                                : std::vector<std::string>{daemon->logPath});
    if (!writes.watching()) {
        state.SkipWithError("the files the colour lands in cannot be watched");
        return;
    }
    LogTail log(daemon->logPath);
    log.skipToEnd();
    for (auto _ : state) {
        const std::uint32_t pixel = colourOfStep(daemon->colourStep++);
        char hex[8];
        std::snprintf(hex, sizeof hex, "%06x", pixel);
        const int fd = NBRConnectToControlSocket();
        if (fd < 0) {
            state.SkipWithError("connect failed");
            break;
        }
        NBRControlSetLightColor(fd, pixel);
        ::close(fd);
        const std::string shown = std::string("light bar ") + hex + " shown";
        const bool landed = writes.waitUntil(
            [&] {
                return backend == Backend::Linux ? daemon->doubles->ledColour() == hex
                                                 : log.take(shown);
            },
            5s);
        if (!landed) {
            state.SkipWithError("a colour never landed");
            break;
        }
    }
    g_daemonsOwnPart[backend] = daemonsOwnPart(daemon->logPath);
}

void BM_ColourToLightBarSimulator(benchmark::State &state) {
    colourToLightBar(state, Backend::Simulator);
}
BENCHMARK(BM_ColourToLightBarSimulator)->UseRealTime()->Repetitions(3);

void BM_ColourToLightBarLinux(benchmark::State &state) {
    colourToLightBar(state, Backend::Linux);
}
BENCHMARK(BM_ColourToLightBarLinux)->UseRealTime()->Repetitions(3);

void connectToAcknowledgement(benchmark::State &state, Backend backend) {
    Daemon *daemon = daemonFor(backend, false, state);
    if (!daemon)
        return;
    FileWrites writes({daemon->logPath});
    LogTail log(daemon->logPath);
    log.skipToEnd();
    const auto address = LinuxControllerDoubles::addressBytes();
    for (auto _ : state) {
        const int fd = NBRConnectToControlSocket();
        const bool acknowledged = fd >= 0 && NBRControlSetReceiveTimeout(fd, 5s) &&
                                  NBRControlConnect(fd, NBRControllerTypeDualShock4, address);
        state.PauseTiming();
        if (acknowledged)
            NBRControlDisconnect(fd, NBRControllerTypeDualShock4);
        if (fd >= 0)
            ::close(fd);
        const bool gone =
            acknowledged &&
            writes.waitUntil([&] { return log.take("controller disconnected"); }, 5s) &&
            (backend == Backend::Simulator || daemon->doubles->waitForConnected(false, 5s));
        state.ResumeTiming();
        if (!gone) {
            state.SkipWithError(acknowledged ? "the controller stayed connected"
                                             : "the connect was not acknowledged");
            break;
        }
    }
}

void BM_ConnectToAcknowledgementSimulator(benchmark::State &state) {
    connectToAcknowledgement(state, Backend::Simulator);
}
BENCHMARK(BM_ConnectToAcknowledgementSimulator)->UseRealTime()->Repetitions(3);

void BM_ConnectToAcknowledgementLinux(benchmark::State &state) {
    connectToAcknowledgement(state, Backend::Linux);
}
BENCHMARK(BM_ConnectToAcknowledgementLinux)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    LinuxControllerDoubles::keepSysfsInMemory();
    QCoreApplication app(argc, argv); // the BlueZ double's own connection
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // The ratios show what the real paths cost over the simulated ones, so have no goal: what the
    // user sees is held to the drag's goal in color_pick_bench --linux-backend.
    RatioReporter reporter(
        {{"BM_ColourToLightBarLinux", "BM_ColourToLightBarSimulator", 0},
         {"BM_ConnectToAcknowledgementLinux", "BM_ConnectToAcknowledgementSimulator", 0}});
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    g_daemon.reset();
    const auto figure = [&reporter](const char *name) { return reporter.microseconds(name); };
    std::printf(
        "colour command -> light bar: Linux backend %.1f us (until the LED brightness files "
        "hold it, sysfs double %s), simulator %.1f us (until its log shows it)\n",
        figure("BM_ColourToLightBarLinux"), g_sysfsWhere.c_str(),
        figure("BM_ColourToLightBarSimulator"));
    const auto &onLinux = g_daemonsOwnPart[Backend::Linux];
    const auto &simulated = g_daemonsOwnPart[Backend::Simulator];
    std::printf("the daemon's own part of a colour (its message line to its light bar line): Linux "
                "backend median %.1f us, p95 %.1f us; simulator median %.1f us, p95 %.1f us\n",
                percentile(onLinux, 0.5), percentile(onLinux, 0.95), percentile(simulated, 0.5),
                percentile(simulated, 0.95));
    std::printf("connect command -> acknowledgement: Linux backend %.1f us (BlueZ double says "
                "Connected), simulator %.1f us (--connect-delay 0)\n",
                figure("BM_ConnectToAcknowledgementLinux"),
                figure("BM_ConnectToAcknowledgementSimulator"));
    return 0;
}
