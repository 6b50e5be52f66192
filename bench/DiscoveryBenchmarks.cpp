// The pairing tool's speed: start to first message, inquiry result to stored address, a whole
// pairing with a controller that answers at once, and the tool's peak memory. Each figure that
// has one is printed against a baseline measured in the same run.
#include "CPDistributedMessagingCenter.h"
#include "ChildProcess.h"
#include "DevicePath.h"
#include "NBRConstants.h"
#include "NBRControllerDiscovery.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"
#include "UnixListener.h"
#include "btstack.h"
#include "notify.h"
#include "rocketbootstrap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using platform::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

namespace {

const char *kPad = "1C:66:6D:01:02:03";

// The settings page's side: serves the bootstrap center and notes when each message arrives.
struct Listener {
    std::shared_ptr<CPDistributedMessagingCenter> center;
    std::vector<std::pair<Clock::time_point, std::int64_t>> received;

    Listener() {
        rocketbootstrap_unlock(NBRMessagingCenterName);
        center = CPDistributedMessagingCenter::centerNamed(NBRMessagingCenterName);
        rocketbootstrap_distributedmessagingcenter_apply(center.get());
        auto note = [this](const std::string &, const platform::PlistValue::Dictionary &info) {
            auto state = info.count(NBRDiscoveryStateKey)
                             ? info.at(NBRDiscoveryStateKey).integer().value_or(-1)
                             : -1;
            received.emplace_back(Clock::now(), state);
        };
        center->registerForMessageName(NBRDiscoveryUpdateMessage, note);
        center->registerForMessageName("Baseline", note);
        center->runServerOnCurrentThread();
    }
    // Runs the event loop until the `nth` message with `state` (-1: the baseline's message,
    // which has none) has come. Messages of other states, such as those a process killed in
    // the previous round still had on their way, do not count.
    std::optional<Clock::time_point> waitFor(std::int64_t state, int nth = 1) {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            int seen = 0;
            for (const auto &[when, s] : received)
                if (s == state && ++seen == nth)
                    return when;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        return std::nullopt;
    }
};

struct World {
    platform::testing::PrivateSessionBus bus;
    platform::testing::TestDeviceRoot root;
    std::unique_ptr<ChildProcess> simulator;
    std::unique_ptr<Listener> listener;

    World() {
        simulator = std::make_unique<ChildProcess>(
            SIMULATOR_PATH, std::vector<std::string>{"--device", "address=" + std::string(kPad) +
                                                                     ",class=0x002508,pin=5820"});
        simulator->waitForLine("ready");
        listener = std::make_unique<Listener>();
    }
    static std::unique_ptr<World> instance;
    static World &shared() {
        if (!instance)
            instance = std::make_unique<World>();
        return *instance;
    }
};

std::unique_ptr<World> World::instance;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

long peakResidentKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with("VmHWM:"))
            return std::stol(line.substr(6));
    return -1;
}

// Starts `program` and times until the listener gets a message with `state`; nothing when none
// comes.
std::optional<double> timeToMessage(World &world, const std::string &program,
                                    std::vector<std::string> args, std::int64_t state,
                                    long *peakKilobytes = nullptr) {
    world.listener->received.clear();
    auto start = Clock::now();
    ChildProcess process(program, std::move(args));
    auto arrived = world.listener->waitFor(state);
    if (peakKilobytes)
        *peakKilobytes = peakResidentKilobytes(process.pid());
    // A pairing sends its second state 2 right after the first: let it land before the kill,
    // or it would arrive during the next round.
    if (state == NBRDiscoveryProgressPaired)
        world.listener->waitFor(state, 2);
    process.stop(SIGKILL); // the clean shutdown's 2-second wait is not what is measured
    if (!arrived)
        return std::nullopt;
    return milliseconds(*arrived - start);
}

void BM_ToolStartToFirstMessage(benchmark::State &state) {
    World &world = World::shared();
    double tool = 0, baseline = 0;
    for (auto _ : state) {
        auto t = timeToMessage(world, TOOL_PATH, {}, NBRDiscoveryProgressSearchStarted);
        // The same path for the smallest sender there is: start, connect, send one message.
        auto b = timeToMessage(world, MESSAGINGUTIL_PATH,
                               {"-p", "-b", NBRMessagingCenterName, "Baseline"}, -1);
        if (!t || !b) {
            state.SkipWithError("a message did not arrive");
            return;
        }
        state.SetIterationTime(*t / 1000);
        tool += *t;
        baseline += *b;
    }
    state.counters["tool_ms"] = tool / state.iterations();
    state.counters["baseline_ms"] = baseline / state.iterations();
    state.counters["ratio"] = tool / baseline;
    state.counters["goal_ms"] = 30;
}
BENCHMARK(BM_ToolStartToFirstMessage)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

void BM_WholePairing(benchmark::State &state) {
    World &world = World::shared();
    double total = 0;
    long peak = 0;
    for (auto _ : state) {
        long kilobytes = 0;
        auto t = timeToMessage(world, TOOL_PATH, {}, NBRDiscoveryProgressPaired, &kilobytes);
        if (!t) {
            state.SkipWithError("the pairing was not reported");
            return;
        }
        state.SetIterationTime(*t / 1000);
        total += *t;
        peak = std::max(peak, kilobytes);
    }
    state.counters["pairing_ms"] = total / state.iterations();
    state.counters["goal_ms"] = 150;
    state.counters["peak_rss_MB"] = peak / 1024.0;
    state.counters["rss_goal_MB"] = 15;
}
BENCHMARK(BM_WholePairing)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

void BM_ToolPeakMemoryAgainstAnIdleMessagingProcess(benchmark::State &state) {
    World &world = World::shared();
    long tool = 0, baseline = 0;
    for (auto _ : state) {
        if (!timeToMessage(world, TOOL_PATH, {}, NBRDiscoveryProgressPaired, &tool)) {
            state.SkipWithError("the pairing was not reported");
            return;
        }
        ChildProcess idle(MESSAGINGUTIL_PATH, {"-u", "bench.idle"});
        idle.waitForLine("ready");
        baseline = peakResidentKilobytes(idle.pid());
        idle.stop(SIGKILL);
    }
    state.counters["tool_MB"] = tool / 1024.0;
    state.counters["baseline_MB"] = baseline / 1024.0;
    state.counters["ratio"] = static_cast<double>(tool) / baseline;
    state.counters["goal_MB"] = 15;
}
BENCHMARK(BM_ToolPeakMemoryAgainstAnIdleMessagingProcess)->Iterations(3);

// Takes the engine's commands and throws them away.
class CommandSink {
public:
    CommandSink() {
        listen_ = platform::testing::listenOnUnixSocket(platform::devicePath(BTSTACK_UNIX), 1);
        reader_ = std::thread([this] {
            client_ = ::accept(listen_, nullptr, nullptr);
            char buffer[4096];
            while (client_ >= 0 && ::read(client_, buffer, sizeof buffer) > 0) {
            }
        });
    }
    ~CommandSink() {
        ::shutdown(listen_, SHUT_RDWR);
        bt_close();
        reader_.join();
        ::close(client_);
        ::close(listen_);
    }

private:
    int listen_ = -1;
    std::atomic<int> client_{-1};
    std::thread reader_;
};

std::vector<std::uint8_t> inquiryResult() {
    // One response with RSSI: the pad, class 0x002508.
    return {0x22, 0x0F, 0x01, 0x03, 0x02, 0x01, 0x6D, 0x66, 0x1C,
            0x01, 0x00, 0x08, 0x25, 0x00, 0x34, 0x12, 0xD8};
}

void BM_InquiryResultToAddressStored(benchmark::State &state) {
    World::shared(); // the bus
    platform::testing::TestDeviceRoot root;
    CommandSink sink;
    NBRControllerDiscovery engine;
    engine.activateBluetooth();
    const std::string path = platform::devicePath(NBRPreferencesPath);
    platform::PlistValue::Dictionary prefs{{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "004efd"}};
    platform::writePlistAtomically(path, prefs, platform::PlistFormat::XML);
    std::vector<std::uint8_t> packet = inquiryResult();

    Clock::duration handling{}, baseline{};
    for (auto _ : state) {
        engine.setBluetoothState(NBRBluetoothStateInquiring);
        auto start = Clock::now();
        engine.packetHandler(HCI_EVENT_PACKET, 0, packet.data(),
                             static_cast<std::uint16_t>(packet.size()));
        auto middle = Clock::now();
        // Baseline: the bare work of storing: read, set, write atomically, post.
        auto dictionary = platform::readPlistDictionary(path).value_or(prefs);
        dictionary[NBRBluetoothAddressKey] = platform::PlistValue::Data{1, 2, 3, 4, 5, 6};
        platform::writePlistAtomically(path, dictionary, platform::PlistFormat::XML);
        notify_post(NBRPreferencesChangedNotification);
        auto end = Clock::now();
        handling += middle - start;
        baseline += end - middle;
        state.SetIterationTime(std::chrono::duration<double>(middle - start).count());
    }
    state.counters["handling_ms"] = milliseconds(handling) / state.iterations();
    state.counters["baseline_ms"] = milliseconds(baseline) / state.iterations();
    state.counters["ratio"] = milliseconds(handling) / milliseconds(baseline);
    state.counters["goal_ms"] = 2;
}
BENCHMARK(BM_InquiryResultToAddressStored)
    ->UseManualTime()
    ->Iterations(200)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv) {
    run_loop_init(RUN_LOOP_COCOA);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    World::instance.reset(); // stops the simulator and the bus
    return 0;
}
