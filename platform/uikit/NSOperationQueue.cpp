#include "NSOperationQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <set>

namespace {

// Every live queue, and how many operations are running in all of them. Never destroyed:
// queues may still go away while the process exits.
struct Registry {
    std::mutex mutex;
    std::condition_variable idle;
    std::set<NSOperationQueue *> queues;
    int running = 0;
    bool closing = false;
};

Registry &registry() {
    static Registry *instance = new Registry;
    return *instance;
}

} // namespace

NSOperationQueue::NSOperationQueue() {
    static std::once_flag once;
    std::call_once(once, [] { qAddPostRoutine(&NSOperationQueue::stopAllQueues); });
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    r.queues.insert(this);
    stopping_ = r.closing;
}

void NSOperationQueue::stopAllQueues() {
    Registry &r = registry();
    std::unique_lock lock(r.mutex);
    r.closing = true;
    for (NSOperationQueue *queue : r.queues) {
        {
            std::lock_guard queueLock(queue->mutex_);
            queue->stopping_ = true;
            queue->pending_.clear();
        }
        queue->changed_.notify_all();
    }
    r.idle.wait(lock, [&] { return r.running == 0; });
}

NSOperationQueue::~NSOperationQueue() {
    {
        Registry &r = registry();
        std::lock_guard lock(r.mutex);
        r.queues.erase(this);
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        pending_.clear();
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        // The last owner may let go from inside one of the queue's own operations.
        if (worker_.get_id() == std::this_thread::get_id())
            worker_.detach();
        else
            worker_.join();
    }
}

void NSOperationQueue::addOperation(std::function<void()> operation) {
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(operation));
        if (!worker_.joinable())
            worker_ = std::thread([this] { run(); });
    }
    changed_.notify_all();
}

void NSOperationQueue::setSuspended(bool suspended) {
    {
        std::lock_guard lock(mutex_);
        suspended_ = suspended;
    }
    changed_.notify_all();
}

bool NSOperationQueue::isSuspended() const {
    std::lock_guard lock(mutex_);
    return suspended_;
}

std::size_t NSOperationQueue::operationCount() const {
    std::lock_guard lock(mutex_);
    return pending_.size() + (running_ ? 1 : 0);
}

void NSOperationQueue::waitUntilAllOperationsAreFinished() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || (pending_.empty() && !running_); });
}

void NSOperationQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || (!suspended_ && !pending_.empty()); });
        if (stopping_)
            return;
        auto operation = std::move(pending_.front());
        pending_.pop_front();
        running_ = true;
        lock.unlock();
        Registry &r = registry();
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
        running_ = false;
        changed_.notify_all();
    }
}

void dispatchAsyncMain(std::function<void()> work) {
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}
