#include "NSOperationQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

NSOperationQueue::~NSOperationQueue() {
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
        operation();
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
