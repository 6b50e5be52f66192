#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Runs its operations one at a time, in order, on a thread of its own, while not suspended.
// A queue starts running; setSuspended(true) holds back operations that have not started.
// When the application object goes away, every queue drops what has not started and the
// application waits for the operations still running: none of them outlives the application.
class NSOperationQueue {
public:
    NSOperationQueue();
    ~NSOperationQueue();
    NSOperationQueue(const NSOperationQueue &) = delete;
    NSOperationQueue &operator=(const NSOperationQueue &) = delete;

    void addOperation(std::function<void()> operation);
    void setSuspended(bool suspended);
    bool isSuspended() const;
    std::size_t operationCount() const;
    void waitUntilAllOperationsAreFinished();

    // What the application's going away does (a Qt post routine): every queue drops its
    // pending operations and takes no more, and the call returns once none is running.
    static void stopAllQueues();

private:
    // Shared with the worker, which may outlive the queue: the last owner can let go of it
    // from inside one of its own operations.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::function<void()>> pending;
        bool suspended = false;
        bool running = false; // an operation is executing
        bool stopping = false;
    };
    static void run(std::shared_ptr<State> state);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread worker_;
};

// Runs work later on the main thread, from its event loop (the platform's main queue).
void dispatchAsyncMain(std::function<void()> work);
