// The pairing tool's speed: start to first message, inquiry result to stored address, a whole
// pairing with a controller that answers at once, and the tool's peak memory. Each figure that
// has one is printed against a baseline measured in the same run.
//
// The tool start and the inquiry result also run through nbr-btstackd, the BTstack daemon on
// BlueZ (python-dbusmock's, with the project's template), beside the simulator in the same run,
// the pad found the same time after its inquiry (or discovery) starts by either. "Inquiry result"
// is the moment the daemon sends that event, for both: its --log-events line, written just before
// the send and stamped by a thread of the bench blocked on the daemon's output. From there to the
// tool's "preferences changed" notification the work is the tool's alone; what the bridge adds
// comes before the event, and is printed apart: inquiry command to result event, less the delay,
// with the double's own part of it (SetDiscoveryFilter's answer, StartDiscovery to the pad
// announced, both timed from the bench's own connection) taken out, and the bridge's handling
// of the double's announcement shown on its own. Tool start to "searching" is shown too: there
// the bridge powers BlueZ's adapter on through the bus.
#include "BlueZDouble.h"
#include "CPDistributedMessagingCenter.h"
#include "ChildProcess.h"
#include "DarwinNotifyCenter.h"
#include "DevicePath.h"
#include "NBRConstants.h"
#include "NBRControllerDiscovery.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "RatioReporter.h"
#include "TestDeviceRoot.h"
#include "UnixListener.h"
#include "btstack.h"
#include "notify.h"
#include "rocketbootstrap.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <mutex>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using platform::testing::ChildProcess;
using Clock = std::chrono::steady_clock;

namespace {

const char *kPad = "1C:66:6D:01:02:03";
const QString kAdapter = QStringLiteral("hci0");
// How long after its inquiry (discovery) starts the pad is found, in the daemon comparisons.
constexpr int kFoundAfterMs = 100;
// The listener's mark for the tool's "preferences changed" notification: the address is stored.
constexpr std::int64_t kStored = -2;

enum class Daemon { Simulator, Bridge };

const char *nameOf(Daemon daemon) {
    return daemon == Daemon::Simulator ? "simulator" : "bridge";
}

struct DaemonSetup {
    Daemon daemon = Daemon::Simulator;
    int foundAfterMs = 0;
    bool operator==(const DaemonSetup &) const = default;
};

// Runs the event loop until `done` says so, for 5 s at most. The loop sleeps until something
// comes: a bench that spins takes a core from the processes it times. The timer bounds each
// sleep, so the deadline is seen.
template <typename Done> bool runEventsUntil(Done done) {
    QElapsedTimer clock;
    clock.start();
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (clock.elapsed() >= 5000)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

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
        CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), this, stored,
                                        NBRPreferencesChangedNotification, nullptr,
                                        CFNotificationSuspensionBehaviorDeliverImmediately);
    }
    ~Listener() {
        CFNotificationCenterRemoveEveryObserver(CFNotificationCenterGetDarwinNotifyCenter(), this);
    }
    static void stored(CFNotificationCenterRef, void *observer, CFNotificationName, const void *,
                       const void *) {
        static_cast<Listener *>(observer)->received.emplace_back(Clock::now(), kStored);
    }
    // Runs the event loop until the `nth` message with `state` (-1: the baseline's message,
    // which has none; kStored: the stored address's notification) has come. Messages of other
    // states, such as those a process killed in the previous round still had on their way, do
    // not count.
    std::optional<Clock::time_point> waitFor(std::int64_t state, int nth = 1) {
        std::optional<Clock::time_point> found;
        runEventsUntil([&] {
            int seen = 0;
            for (const auto &[when, s] : received)
                if (s == state && ++seen == nth)
                    found = when;
            return found.has_value();
        });
        return found;
    }
};

// A BTstack daemon whose every output line is stamped as it is written: a thread stays blocked on
// the pipe, so a line's stamp trails the daemon's write by one wake-up, whatever the bench's
// event loop is doing. The pipe never fills, however much --log-events prints.
class StampedDaemon {
public:
    struct Line {
        Clock::time_point at;
        std::string text;
    };

    StampedDaemon(const std::string &program, const std::vector<std::string> &arguments,
                  const platform::testing::ChildSetup &setup) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0)
            throw std::runtime_error("no pipe for " + program);
        std::vector<const char *> argv{program.c_str()};
        for (const auto &argument : arguments)
            argv.push_back(argument.c_str());
        argv.push_back(nullptr);
        pid_ = platform::testing::spawnTiedToParent(argv.data(), fds[1], false, setup);
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            throw std::runtime_error("cannot start " + program);
        }
        reader_ = std::thread([this, fd = fds[0]] { read(fd); });
    }
    ~StampedDaemon() {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 500 && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        reader_.join(); // the pipe's end comes with the daemon's
    }
    StampedDaemon(const StampedDaemon &) = delete;
    StampedDaemon &operator=(const StampedDaemon &) = delete;

    std::size_t lineCount() {
        std::lock_guard lock(mutex_);
        return lines_.size();
    }
    // The first line from index `from` on that `matches`.
    template <typename Match> std::optional<Line> find(Match matches, std::size_t from = 0) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (matches(lines_[i].text))
                return lines_[i];
        return std::nullopt;
    }
    // How many lines from index `from` on start with `prefix`.
    int count(const std::string &prefix, std::size_t from) {
        std::lock_guard lock(mutex_);
        return static_cast<int>(std::count_if(
            lines_.begin() + static_cast<long>(std::min(from, lines_.size())), lines_.end(),
            [&](const Line &line) { return line.text.starts_with(prefix); }));
    }
    bool waitForLineStarting(const std::string &prefix, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return arrived_.wait_for(lock, timeout, [&] {
            return std::any_of(lines_.begin(), lines_.end(),
                               [&](const Line &line) { return line.text.starts_with(prefix); });
        });
    }

private:
    void read(int fd) {
        std::string partial;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            const auto at = Clock::now();
            partial.append(buffer, static_cast<std::size_t>(n));
            std::lock_guard lock(mutex_);
            for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
                lines_.push_back({at, partial.substr(0, end)});
                partial.erase(0, end + 1);
            }
            arrived_.notify_all();
        }
        ::close(fd);
    }

    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Line> lines_;
};

// When the double announces the pad on its bus: as a new device, or a known one heard again.
// The bridge gets the same signal from the same bus daemon at the same moment.
class PadAnnouncements : public QObject {
    Q_OBJECT
public:
    explicit PadAnnouncements(QDBusConnection bus, const QString &padPath) : bus_(bus) {
        bus_.connect(QStringLiteral("org.bluez"), QStringLiteral("/"),
                     QStringLiteral("org.freedesktop.DBus.ObjectManager"),
                     QStringLiteral("InterfacesAdded"), this, SLOT(added(QDBusMessage)));
        bus_.connect(QStringLiteral("org.bluez"), padPath,
                     QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("PropertiesChanged"), this, SLOT(changed(QDBusMessage)));
        padPath_ = padPath;
    }
    std::vector<Clock::time_point> moments;

private slots:
    void added(const QDBusMessage &message) {
        if (!message.arguments().isEmpty() &&
            message.arguments().first().value<QDBusObjectPath>().path() == padPath_)
            moments.push_back(Clock::now());
    }
    void changed(const QDBusMessage &message) {
        if (message.arguments().size() >= 2 &&
            qdbus_cast<QVariantMap>(message.arguments().at(1)).contains(QStringLiteral("RSSI")))
            moments.push_back(Clock::now());
    }

private:
    QDBusConnection bus_;
    QString padPath_;
};

// One device root, session bus and listener for every benchmark, with the daemon the running
// one needs: two daemons cannot serve the one socket, so the one before is stopped first. BlueZ's
// double, once made, stays for the rest of the run.
struct World {
    platform::testing::PrivateSessionBus bus;
    platform::testing::TestDeviceRoot root;
    std::unique_ptr<Listener> listener = std::make_unique<Listener>();
    std::unique_ptr<platform::testing::BlueZDouble> bluez;
    std::unique_ptr<PadAnnouncements> announcements;
    std::unique_ptr<StampedDaemon> daemon;
    DaemonSetup setup;
    std::string error;

    static std::unique_ptr<World> instance;
    static World &shared() {
        if (!instance)
            instance = std::make_unique<World>();
        return *instance;
    }
    // The world with `wanted` serving the socket; nullptr (the benchmark skipped) when it cannot.
    static World *with(DaemonSetup wanted, benchmark::State &state) {
        World &world = shared();
        if (world.daemon && world.setup == wanted)
            return &world;
        world.daemon.reset();
        world.setup = wanted;
        if (!world.start()) {
            state.SkipWithError(world.error.c_str());
            world.daemon.reset();
            return nullptr;
        }
        return &world;
    }

private:
    bool start() {
        const std::string delay = std::to_string(setup.foundAfterMs);
        if (setup.daemon == Daemon::Simulator) {
            daemon = std::make_unique<StampedDaemon>(
                SIMULATOR_PATH,
                std::vector<std::string>{"--log-events", "--device",
                                         "address=" + std::string(kPad) +
                                             ",class=0x002508,pin=5820,delay=" + delay},
                platform::testing::ChildSetup{});
            return waitFor("ready");
        }
        if (!bluez) {
            bluez = std::make_unique<platform::testing::BlueZDouble>();
            if (!bluez->start(NBR_BLUEZ_TEMPLATE, &error) || !bluez->addAdapter(kAdapter))
                return failed("BlueZ's double did not start: ");
            announcements = std::make_unique<PadAnnouncements>(
                bluez->connection(), QStringLiteral("/org/bluez/hci0/dev_1C_66_6D_01_02_03"));
        }
        const QString pad = QString::fromLatin1(kPad);
        if (!bluez->addDiscoverableDevice(kAdapter, pad, QStringLiteral("Wireless Controller"),
                                          0x002508, -45,
                                          std::chrono::milliseconds(setup.foundAfterMs)) ||
            !bluez->setDevicePin(pad, QStringLiteral("5820")))
            return failed("the pad could not be put in range: ");
        daemon = std::make_unique<StampedDaemon>(
            BRIDGE_PATH, std::vector<std::string>{"--log-events"},
            platform::testing::ChildSetup{{"DBUS_SYSTEM_BUS_ADDRESS=" + bluez->busAddress()}});
        // "ready" comes before the socket: that waits for BlueZ's adapter.
        return waitFor("listening ");
    }
    bool waitFor(const std::string &line) {
        if (daemon->waitForLineStarting(line, std::chrono::seconds(10)))
            return true;
        error = std::string(nameOf(setup.daemon)) + " never said \"" + line + "\"";
        return false;
    }
    bool failed(const std::string &what) {
        error = what + (bluez ? bluez->error() : std::string());
        return false;
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

const DaemonSetup kSimulatorAlone{Daemon::Simulator, 0};

// Tool start to its first progress message, against the smallest sender there is on the same
// path (start, connect, send one message).
void BM_ToolStartToFirstMessage(benchmark::State &state, Daemon daemon) {
    World *world = World::with({daemon, kFoundAfterMs}, state);
    if (!world)
        return;
    double tool = 0, baseline = 0;
    for (auto _ : state) {
        auto t = timeToMessage(*world, TOOL_PATH, {}, NBRDiscoveryProgressSearchStarted);
        auto b = timeToMessage(*world, MESSAGINGUTIL_PATH,
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
BENCHMARK_CAPTURE(BM_ToolStartToFirstMessage, simulator, Daemon::Simulator)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToolStartToFirstMessage, bridge, Daemon::Bridge)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// Tool start to "searching": the daemon has powered on (the bridge: BlueZ's adapter powered
// through the bus) and answered the inquiry mode.
void BM_ToolStartToSearching(benchmark::State &state, Daemon daemon) {
    World *world = World::with({daemon, kFoundAfterMs}, state);
    if (!world)
        return;
    int dropped = 0;
    for (auto _ : state) {
        const std::size_t from = world->daemon->lineCount();
        auto t = timeToMessage(*world, TOOL_PATH, {}, NBRDiscoveryProgressSearching);
        if (!t) {
            state.SkipWithError("the search was not reported");
            return;
        }
        state.SetIterationTime(*t / 1000);
        // Commands that came while the daemon was still powering on: each is lost, and the
        // tool asks again only 2 s later.
        dropped += world->daemon->count("note controller not working", from);
    }
    state.counters["dropped_per_run"] = static_cast<double>(dropped) / state.iterations();
}
BENCHMARK_CAPTURE(BM_ToolStartToSearching, simulator, Daemon::Simulator)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ToolStartToSearching, bridge, Daemon::Bridge)
    ->UseManualTime()
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

double median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One search, from the daemon's log and the listener, in milliseconds.
struct Search {
    double commandToResult = 0; // the inquiry command in, the inquiry result event out
    double resultToStored = 0;  // that event out, the tool's "preferences changed" in
    double announcedToResult = -1; // the bridge: the double's announcement, the event out
};
std::map<Daemon, std::vector<Search>> g_searches;

bool isInquiryResultEvent(const std::string &line) {
    if (!line.starts_with("event client="))
        return false;
    const auto channel = line.find(" channel=0x");
    // "channel=0x0000 " and then the event's bytes in hex, its code first.
    const std::string code = channel == std::string::npos ? "" : line.substr(channel + 16, 2);
    return code == "02" || code == "22" || code == "2f";
}

std::optional<Search> searchOnce(World &world, std::string &error) {
    world.listener->received.clear();
    if (world.announcements)
        world.announcements->moments.clear();
    const std::size_t from = world.daemon->lineCount();
    ChildProcess tool(TOOL_PATH, {});
    auto stored = world.listener->waitFor(kStored);
    tool.stop(SIGKILL);
    if (!stored) {
        error = "the address was not stored";
        return std::nullopt;
    }
    auto inquiry = world.daemon->find(
        [](const std::string &line) {
            return line.starts_with("command client=") &&
                   line.find(" hci_inquiry ") != std::string::npos;
        },
        from);
    auto result = world.daemon->find(isInquiryResultEvent, from);
    if (!inquiry || !result) {
        error = "the daemon logged no inquiry or no result";
        return std::nullopt;
    }
    Search search{milliseconds(result->at - inquiry->at), milliseconds(*stored - result->at)};
    if (world.announcements) {
        const auto &moments = world.announcements->moments;
        auto announced = std::find_if(moments.begin(), moments.end(),
                                      [&](Clock::time_point at) { return at >= inquiry->at; });
        if (announced != moments.end())
            search.announcedToResult = milliseconds(result->at - *announced);
    }
    return search;
}

void BM_InquiryResultToAddressStoredThrough(benchmark::State &state, Daemon daemon) {
    World *world = World::with({daemon, kFoundAfterMs}, state);
    if (!world)
        return;
    std::vector<Search> searches;
    for (auto _ : state) {
        std::string error;
        auto search = searchOnce(*world, error);
        if (!search) {
            state.SkipWithError(error.c_str());
            return;
        }
        state.SetIterationTime(search->resultToStored / 1000);
        searches.push_back(*search);
    }
    double radio = 0;
    for (const Search &search : searches)
        radio += search.commandToResult;
    state.counters["inquiry_to_result_ms"] = radio / state.iterations();
    state.counters["found_after_ms"] = kFoundAfterMs;
    auto &all = g_searches[daemon];
    all.insert(all.end(), searches.begin(), searches.end());
}
BENCHMARK_CAPTURE(BM_InquiryResultToAddressStoredThrough, simulator, Daemon::Simulator)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_InquiryResultToAddressStoredThrough, bridge, Daemon::Bridge)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// The double's own part of a search, driven from the bench's own connection while no search
// runs: SetDiscoveryFilter's answer, then StartDiscovery until the double announces the pad (its
// delay, its timer's and its signal's latency); the discovery is stopped again, untimed.
struct DoublesPart {
    double filter = -1;             // SetDiscoveryFilter's round trip
    double startToAnnounced = -1;   // StartDiscovery sent to the pad announced
};
DoublesPart g_doublesPart;

void BM_BlueZDoubleDiscovery(benchmark::State &state) {
    World *world = World::with({Daemon::Bridge, kFoundAfterMs}, state);
    if (!world)
        return;
    QDBusConnection bus = world->bluez->connection();
    auto call = [&](const char *method, const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.bluez"), QStringLiteral("/org/bluez/hci0"),
            QStringLiteral("org.bluez.Adapter1"), QString::fromLatin1(method));
        message.setArguments(arguments);
        return bus.call(message).type() == QDBusMessage::ReplyMessage;
    };
    const QVariantMap filter{{QStringLiteral("Transport"), QStringLiteral("bredr")}};
    std::vector<double> filtering, announcing;
    auto &moments = world->announcements->moments;
    for (auto _ : state) {
        moments.clear();
        const auto start = Clock::now();
        const bool filtered = call("SetDiscoveryFilter", {filter});
        const auto middle = Clock::now();
        const bool started = call("StartDiscovery", {});
        const bool announced = started && runEventsUntil([&] { return !moments.empty(); });
        if (!filtered || !announced || !call("StopDiscovery", {})) {
            state.SkipWithError("the double's discovery did not find the pad");
            return;
        }
        filtering.push_back(milliseconds(middle - start));
        announcing.push_back(milliseconds(moments.front() - middle));
        state.SetIterationTime(std::chrono::duration<double>(moments.front() - start).count());
    }
    g_doublesPart = {median(filtering), median(announcing)};
    state.counters["filter_ms"] = g_doublesPart.filter;
    state.counters["start_to_announced_ms"] = g_doublesPart.startToAnnounced;
    state.counters["found_after_ms"] = kFoundAfterMs;
}
BENCHMARK(BM_BlueZDoubleDiscovery)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

void BM_WholePairing(benchmark::State &state) {
    World *found = World::with(kSimulatorAlone, state);
    if (!found)
        return;
    World &world = *found;
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
    World *found = World::with(kSimulatorAlone, state);
    if (!found)
        return;
    World &world = *found;
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
    World::shared().daemon.reset(); // the bus; the sink takes the daemon's socket
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

// Where a search's time goes before the inquiry result, daemon by daemon: for the bridge, what
// the double takes of it (measured on its own) and what is left, the bridge's own.
void printSearches() {
    for (const auto &[daemon, searches] : g_searches) {
        std::vector<double> radio, announced, stored;
        for (const Search &search : searches) {
            radio.push_back(search.commandToResult);
            stored.push_back(search.resultToStored);
            if (search.announcedToResult >= 0)
                announced.push_back(search.announcedToResult);
        }
        const double total = median(radio);
        std::printf("%s: inquiry result event -> address stored median %.2f ms; inquiry command "
                    "-> inquiry result event median %.2f ms, %.2f ms past the pad's %d ms\n",
                    nameOf(daemon), median(stored), total, total - kFoundAfterMs, kFoundAfterMs);
        if (daemon != Daemon::Bridge || g_doublesPart.filter < 0)
            continue;
        const double doubles = g_doublesPart.filter + g_doublesPart.startToAnnounced;
        std::printf("  the double: SetDiscoveryFilter %.2f ms + StartDiscovery to the pad "
                    "announced %.2f ms (%.2f ms past the delay); the bridge's own: %.2f ms, of "
                    "which announcement -> event %.2f ms\n",
                    g_doublesPart.filter, g_doublesPart.startToAnnounced,
                    g_doublesPart.startToAnnounced - kFoundAfterMs, total - doubles,
                    median(announced));
    }
}

} // namespace

int main(int argc, char **argv) {
    run_loop_init(RUN_LOOP_COCOA); // also the BlueZ double's connection
    const int status = runWithRatios(
        argc, argv,
        {{"BM_ToolStartToFirstMessage/bridge", "BM_ToolStartToFirstMessage/simulator", 1.5},
         {"BM_InquiryResultToAddressStoredThrough/bridge",
          "BM_InquiryResultToAddressStoredThrough/simulator", 1.5},
         // What the bridge's power-on costs; shown only.
         {"BM_ToolStartToSearching/bridge", "BM_ToolStartToSearching/simulator", 0}});
    printSearches();
    World::instance.reset(); // stops the daemon, BlueZ's double and the bus
    return status;
}

#include "DiscoveryBenchmarks.moc"
