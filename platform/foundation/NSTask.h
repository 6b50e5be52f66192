#pragma once

#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A child process started with the caller's environment and standard streams. It is reaped as
// soon as it ends, so the caller never waits for it, and it is interrupted (SIGINT) if the
// process that started it dies first, so a tool meant to run until interrupted never outlives
// the application that started it (start it from a thread that lives as long as the process,
// the main thread: the kernel ties the signal to the starting thread).
class NSTask {
  public:
    // Null when the program cannot be started (missing, not executable).
    static std::shared_ptr<NSTask>
    launchedTaskWithLaunchPath(const std::string &path, const std::vector<std::string> &arguments);
    ~NSTask();
    NSTask(const NSTask &) = delete;
    NSTask &operator=(const NSTask &) = delete;

    pid_t processIdentifier() const { return pid_; }
    bool isRunning() const;
    // The exit status, or 128 + signal when a signal ended it; -1 while it runs.
    int terminationStatus() const;
    // Called once when the process has ended, on the thread that reaped it; at once, on the
    // caller's thread, when it has ended already.
    void setTerminationHandler(std::function<void()> handler);

    struct State;

  private:
    NSTask(pid_t pid, std::shared_ptr<State> state);
    pid_t pid_;
    std::shared_ptr<State> state_;
};
