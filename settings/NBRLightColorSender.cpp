#include "NBRLightColorSender.h"

#include "NBRConstants.h"
#include "NBRControlSocket.h"
#include "dispatch.h"
#include "notify.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>

struct NBRLightColorSender::State {
    Transport transport;
    std::function<void()> failed;
    std::chrono::microseconds spacing;
    mutable std::mutex mutex;
    mutable std::condition_variable idle;
    struct Waiting {
        std::uint32_t pixel;
        bool reportFailure;
    };
    std::optional<Waiting> waiting;
    bool draining = false;
    std::chrono::steady_clock::time_point lastSend{};
};

NBRLightColorSender::NBRLightColorSender(Transport transport, std::function<void()> failed,
                                         std::chrono::microseconds spacing)
    : state_(std::make_shared<State>()) {
    state_->transport = std::move(transport);
    state_->failed = std::move(failed);
    state_->spacing = spacing;
}

// The drain holds the state, so a send under way finishes after the sender has gone.
NBRLightColorSender::~NBRLightColorSender() = default;

void NBRLightColorSender::send(std::uint32_t pixel, bool reportFailure) {
    std::lock_guard lock(state_->mutex);
    state_->waiting = State::Waiting{pixel, reportFailure};
    if (state_->draining)
        return;
    state_->draining = true;
    dispatch_async(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0),
                   [state = state_] { drain(state); });
}

void NBRLightColorSender::drain(std::shared_ptr<State> state) {
    for (;;) {
        State::Waiting next{};
        {
            std::unique_lock lock(state->mutex);
            const auto due = state->lastSend + state->spacing;
            if (std::chrono::steady_clock::now() < due) {
                lock.unlock();
                std::this_thread::sleep_until(due);
                lock.lock();
            }
            if (!state->waiting) {
                state->draining = false;
                state->idle.notify_all();
                return;
            }
            next = *state->waiting;
            state->waiting.reset();
            state->lastSend = std::chrono::steady_clock::now();
        }
        if (!state->transport(next.pixel) && next.reportFailure && state->failed)
            state->failed();
    }
}

bool NBRLightColorSender::waitUntilIdle(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->idle.wait_for(lock, timeout,
                                 [this] { return !state_->draining && !state_->waiting; });
}

void NBRLightColorSender::sendOnConnection(int fd, std::uint32_t pixel) {
    NBRControlSetLightColor(fd, pixel);
}

bool NBRLightColorSender::sendOnOwnConnection(std::uint32_t pixel, std::chrono::milliseconds wait) {
    const int fd = NBRConnectToControlSocketWithin(wait);
    if (fd < 0)
        return false;
    sendOnConnection(fd, pixel);
    ::close(fd);
    return true;
}

bool NBRLightColorSender::overControlSocket(std::uint32_t pixel) {
    return sendOnOwnConnection(pixel, std::chrono::seconds(1));
}

void NBRLightColorSender::postFailure() {
    notify_post(NBRFailureNotification);
}
