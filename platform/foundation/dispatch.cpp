#include "dispatch.h"

#include <QCoreApplication>
#include <QRunnable>
#include <QThreadPool>
#include <QTimer>
#include <chrono>

struct dispatch_queue_s {};

namespace {

dispatch_queue_s g_mainQueue;
dispatch_queue_s g_globalQueue;

// Never fewer threads than blocks waiting: a 20-second socket wait must not starve a quick one.
QThreadPool &globalPool() {
    static QThreadPool *pool = [] {
        auto *threads = new QThreadPool;
        threads->setMaxThreadCount(256);
        return threads;
    }();
    return *pool;
}

std::uint64_t nowNanoseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

dispatch_queue_t dispatch_get_main_queue() {
    return &g_mainQueue;
}

dispatch_queue_t dispatch_get_global_queue(long, unsigned long) {
    return &g_globalQueue;
}

dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta) {
    const std::uint64_t base = when == DISPATCH_TIME_NOW ? nowNanoseconds() : when;
    return delta < 0 ? base - static_cast<std::uint64_t>(-delta)
                     : base + static_cast<std::uint64_t>(delta);
}

void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, std::function<void()> block) {
    if (queue == &g_globalQueue && block) {
        globalPool().start(QRunnable::create(std::move(block)));
        return;
    }
    QCoreApplication *app = QCoreApplication::instance();
    if (queue != &g_mainQueue || app == nullptr || !block)
        return;
    const std::uint64_t now = nowNanoseconds();
    const auto delay = std::chrono::milliseconds(when > now ? (when - now + 999999) / 1000000 : 0);
    // The timer belongs to the application object, so it fires on the main thread.
    QMetaObject::invokeMethod(
        app, [app, delay, block = std::move(block)] { QTimer::singleShot(delay, app, block); });
}

void dispatch_async(dispatch_queue_t queue, std::function<void()> block) {
    dispatch_after(DISPATCH_TIME_NOW, queue, std::move(block));
}
