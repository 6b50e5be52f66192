#include "NSOperationQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <set>

namespace {

// The state of every live queue, and how many operations are running in all of them. Never
// destroyed: queues may still go away while the process exits.
template <typename State> struct Registry {
    std::mutex mutex;
    std::condition_variable idle;
    std::set<State *> queues;
    int running = 0;
    bool closing = false;
};

template <typename State> Registry<State> &registry() {
    static auto *instance = new Registry<State>;
    return *instance;
}

} // namespace

NSOperationQueue::NSOperationQueue() {
    static std::once_flag once;
    std::call_once(once, [] { qAddPostRoutine(&NSOperationQueue::stopAllQueues); });
    auto &r = registry<State>();
    std::lock_guard lock(r.mutex);
    r.queues.insert(state_.get());
    state_->stopping = r.closing;
}

void NSOperationQueue::stopAllQueues() {
    auto &r = registry<State>();
    std::unique_lock lock(r.mutex);
    r.closing = true;
    for (State *state : r.queues) {
        {
            std::lock_guard queueLock(state->mutex);
            state->stopping = true;
            state->pending.clear();
        }
        state->changed.notify_all();
    }
    r.idle.wait(lock, [&] { return r.running == 0; });
}

NSOperationQueue::~NSOperationQueue() {
    {
        auto &r = registry<State>();
        std::lock_guard lock(r.mutex);
        r.queues.erase(state_.get());
    }
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
    auto &r = registry<State>();
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
        bool closing;
        {
            std::lock_guard registryLock(r.mutex);
            closing = r.closing;
            r.running += closing ? 0 : 1;
        }
        if (!closing) {
            operation();
            operation = nullptr;
            std::lock_guard registryLock(r.mutex);
            --r.running;
            r.idle.notify_all();
        }
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
