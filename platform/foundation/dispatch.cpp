#include "dispatch.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>

struct dispatch_queue_s {};

namespace {

dispatch_queue_s g_mainQueue;

std::uint64_t nowNanoseconds() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

dispatch_queue_t dispatch_get_main_queue() {
    return &g_mainQueue;
}

dispatch_time_t dispatch_time(dispatch_time_t when, std::int64_t delta) {
    const std::uint64_t base = when == DISPATCH_TIME_NOW ? nowNanoseconds() : when;
    return delta < 0 ? base - static_cast<std::uint64_t>(-delta)
                     : base + static_cast<std::uint64_t>(delta);
}

void dispatch_after(dispatch_time_t when, dispatch_queue_t queue, std::function<void()> block) {
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
