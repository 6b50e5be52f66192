#include "NSTask.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

struct NSTask::State {
    std::atomic<bool> running{true};
    std::atomic<int> status{-1};
    // Guards the handler and the moment `running` turns false, so a handler is never missed.
    std::mutex ending;
    std::function<void()> terminationHandler;
};

namespace {

// Reaps the child whenever it ends; holds the state, not the task, so a dropped task is fine.
void reapInBackground(pid_t pid, std::shared_ptr<NSTask::State> state) {
    std::thread([pid, state] {
        int status = 0;
        pid_t done;
        do {
            done = ::waitpid(pid, &status, 0);
        } while (done < 0 && errno == EINTR);
        if (done == pid)
            state->status = WIFEXITED(status)     ? WEXITSTATUS(status)
                            : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                                  : -1;
        std::function<void()> handler;
        {
            std::lock_guard lock(state->ending);
            state->running = false;
            handler = std::move(state->terminationHandler);
        }
        if (handler)
            handler();
    }).detach();
}

} // namespace

std::shared_ptr<NSTask>
NSTask::launchedTaskWithLaunchPath(const std::string &path,
                                   const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);

    // The child reports a failed exec through this pipe; a successful exec closes it silently.
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return nullptr;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return nullptr;
    }
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        ::prctl(PR_SET_PDEATHSIG, SIGINT);
        if (::getppid() != parent)
            ::_exit(127);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execv(path.c_str(), argv.data());
        const int error = errno;
        ssize_t ignored = ::write(report[1], &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t n;
    do {
        n = ::read(report[0], &error, sizeof error);
    } while (n < 0 && errno == EINTR);
    ::close(report[0]);
    if (n > 0) {
        int status;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        return nullptr;
    }
    auto state = std::make_shared<State>();
    reapInBackground(pid, state);
    return std::shared_ptr<NSTask>(new NSTask(pid, std::move(state)));
}

NSTask::NSTask(pid_t pid, std::shared_ptr<State> state) : pid_(pid), state_(std::move(state)) {}

NSTask::~NSTask() = default;

bool NSTask::isRunning() const {
    return state_->running.load();
}

int NSTask::terminationStatus() const {
    return state_->status.load();
}

void NSTask::setTerminationHandler(std::function<void()> handler) {
    {
        std::lock_guard lock(state_->ending);
        if (state_->running) {
            state_->terminationHandler = std::move(handler);
            return;
        }
    }
    if (handler)
        handler();
}
