// Time from a controller-event notification being posted to the Notify call arriving at the
// notification server, through the SpringBoard stand-in and NBRSBSupport, against a plain
// D-Bus round trip to the same server in the same run. Runs on a bus of its own.
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"
#include "notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QThread>
#include <QVariantMap>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Counts the Notify calls it answers; lives on a thread of its own.
class CountingServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    std::mutex mutex;
    std::condition_variable arrived;
    unsigned count = 0;

    bool waitForCount(unsigned target) {
        std::unique_lock lock(mutex);
        return arrived.wait_for(lock, std::chrono::seconds(5), [&] { return count >= target; });
    }

public slots:
    uint Notify(const QString &, uint, const QString &, const QString &, const QString &,
                const QStringList &, const QVariantMap &, int) {
        std::lock_guard lock(mutex);
        ++count;
        arrived.notify_all();
        return count;
    }
    QStringList GetCapabilities() { return {"body"}; }
};

CountingServer *g_server = nullptr;
std::vector<double> g_bannerSeconds;
std::vector<double> g_roundTripSeconds;

void BM_NotificationToBanner(benchmark::State &state) {
    for (auto _ : state) {
        unsigned target;
        {
            std::lock_guard lock(g_server->mutex);
            target = g_server->count + 1;
        }
        const auto start = Clock::now();
        notify_post(NBRControllerDetectedNotification);
        if (!g_server->waitForCount(target)) {
            state.SkipWithError("no banner arrived");
            return;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        g_bannerSeconds.push_back(seconds);
        state.SetIterationTime(seconds);
    }
}

void BM_DBusRoundTrip(benchmark::State &state) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
        "org.freedesktop.Notifications", "GetCapabilities");
    for (auto _ : state) {
        const auto start = Clock::now();
        const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
        if (reply.type() != QDBusMessage::ReplyMessage) {
            state.SkipWithError("no reply");
            return;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        g_roundTripSeconds.push_back(seconds);
        state.SetIterationTime(seconds);
    }
}

BENCHMARK(BM_NotificationToBanner)->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DBusRoundTrip)->UseManualTime()->Unit(benchmark::kMicrosecond);

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    platform::testing::PrivateSessionBus bus;
    platform::testing::TestDeviceRoot root;
    QCoreApplication app(argc, argv);
    root.addSpringBoardPlugin(PLUGIN_PATH);

    QThread serverThread;
    serverThread.start();
    CountingServer server;
    server.moveToThread(&serverThread);
    g_server = &server;
    QDBusConnection serverBus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, "bench-server");
    if (!serverBus.registerObject("/org/freedesktop/Notifications", &server,
                                  QDBusConnection::ExportAllSlots) ||
        !serverBus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "cannot own org.freedesktop.Notifications\n");
        return 1;
    }
    int status = 0;
    {
        platform::testing::ChildProcess springBoard(SPRINGBOARD_PATH, {});
        if (!springBoard.waitForLine("ready")) {
            std::fprintf(stderr, "the SpringBoard stand-in did not start\n");
            status = 1;
        } else {
            benchmark::Initialize(&argc, argv);
            benchmark::RunSpecifiedBenchmarks();
            benchmark::Shutdown();
            const double banner = median(g_bannerSeconds) * 1000;
            const double roundTrip = median(g_roundTripSeconds) * 1000;
            std::printf("median notification post -> Notify at the server: %.3f ms (goal <= 5 "
                        "ms)\nmedian plain D-Bus round trip: %.3f ms\nratio: %.2f\n",
                        banner, roundTrip, roundTrip > 0 ? banner / roundTrip : 0.0);
        }
    }
    serverBus.unregisterService("org.freedesktop.Notifications");
    QDBusConnection::disconnectFromBus("bench-server");
    serverThread.quit();
    serverThread.wait();
    return status;
}

#include "BannerBench.moc"
