#include "NSOperationQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

NSOperationQueue::~NSOperationQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->pending.clear();
    }
    state_->changed.notify_all();
    if (worker_.joinable()) {
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach(); // it ends on its own, holding the state
        else
            worker_.join();
    }
}

void NSOperationQueue::addOperation(std::function<void()> operation) {
    {
        std::lock_guard lock(state_->mutex);
        state_->pending.push_back(std::move(operation));
        if (!worker_.joinable())
            worker_ = std::thread(run, state_);
    }
    state_->changed.notify_all();
}

void NSOperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(state_->mutex);
        state_->suspended = suspended;
    }
    state_->changed.notify_all();
}

bool NSOperationQueue::isSuspended() const {
    std::lock_guard lock(state_->mutex);
    return state_->suspended;
}

std::size_t NSOperationQueue::operationCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->pending.size() + (state_->running ? 1 : 0);
}

void NSOperationQueue::waitUntilAllOperationsAreFinished() {
    State &state = *state_;
    std::unique_lock lock(state.mutex);
    state.changed.wait(lock,
                       [&] { return state.stopping || (state.pending.empty() && !state.running); });
}

// Holds the state itself: the queue may be gone once an operation ends.
void NSOperationQueue::run(std::shared_ptr<State> shared) {
    State &state = *shared;
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.changed.wait(
            lock, [&] { return state.stopping || (!state.suspended && !state.pending.empty()); });
        if (state.stopping)
            return;
        auto operation = std::move(state.pending.front());
        state.pending.pop_front();
        state.running = true;
        lock.unlock();
        operation();
        operation = nullptr;
        lock.lock();
        state.running = false;
        state.changed.notify_all();
    }
}

void dispatchAsyncMain(std::function<void()> work) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
