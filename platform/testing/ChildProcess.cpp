#include "ChildProcess.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/capability.h>
#include <poll.h>
#include <stdexcept>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace platform::testing {
namespace {

int decodeStatus(int status) {
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

// The test's environment with `entries` put over it, built before the fork: the child may only
// make async-signal-safe calls.
std::vector<std::string> environmentWith(const std::vector<std::string> &entries) {
    std::vector<std::string> all;
    for (char **variable = environ; *variable != nullptr; ++variable) {
        const std::string_view text(*variable);
        const bool replaced = std::any_of(entries.begin(), entries.end(), [&](const auto &entry) {
            const auto name = entry.find('=');
            return text.size() > name && text.compare(0, name + 1, entry, 0, name + 1) == 0;
        });
        if (!replaced)
            all.emplace_back(text);
    }
    all.insert(all.end(), entries.begin(), entries.end());
    return all;
}

} // namespace

pid_t spawnTiedToParent(const char *const *argv, int stdoutFd, bool quiet,
                        const ChildSetup &setup) {
    const std::vector<std::string> environment = environmentWith(setup.environment);
    std::vector<char *> envp;
    for (const auto &entry : environment)
        envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);
    int status[2]; // carries errno from a failed exec; closes (empty) on success
    if (::pipe2(status, O_CLOEXEC) != 0)
        return -1;
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) // the parent is already gone
            ::_exit(127);
        ::dup2(stdoutFd, STDOUT_FILENO);
        if (quiet) {
            int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDERR_FILENO);
        }
        if (setup.obeyFileModes) {
            // Out of the bounding set, they are not regained at exec even by root. Fails
            // harmlessly without CAP_SETPCAP, which only root has, and only root needs this.
            for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
                ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
        }
        ::execvpe(argv[0], const_cast<char *const *>(argv), envp.data());
        int error = errno;
        [[maybe_unused]] ssize_t n = ::write(status[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(status[1]);
    int error = 0;
    const bool failed = pid < 0 || ::read(status[0], &error, sizeof error) > 0;
    ::close(status[0]);
    if (failed && pid > 0)
        ::waitpid(pid, nullptr, 0);
    return failed ? -1 : pid;
}

int processesWithEnvironment(const std::string &entry) {
    int count = 0;
    std::error_code failed;
    for (const auto &process : std::filesystem::directory_iterator("/proc", failed)) {
        const std::string pid = process.path().filename().string();
        if (pid.empty() || !std::isdigit(static_cast<unsigned char>(pid.front())))
            continue;
        std::ifstream environment(process.path() / "environ", std::ios::binary);
        for (std::string variable; std::getline(environment, variable, '\0');)
            if (variable == entry) {
                ++count;
                break;
            }
    }
    return count;
}

ChildProcess::ChildProcess(std::string program, std::vector<std::string> arguments,
                           const ChildSetup &setup) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<const char *> argv;
    argv.push_back(program.c_str());
    for (const auto &argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    pid_ = spawnTiedToParent(argv.data(), pipeFds[1], /*quiet=*/false, setup);
    ::close(pipeFds[1]);
    stdout_ = pipeFds[0];
    if (pid_ < 0)
        throw std::runtime_error("cannot start " + program);
    ::fcntl(stdout_, F_SETFL, O_NONBLOCK);
}

ChildProcess::~ChildProcess() {
    if (running())
        stop(SIGTERM, std::chrono::seconds(5));
    if (stdout_ >= 0)
        ::close(stdout_);
}

bool ChildProcess::running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
        status_ = decodeStatus(status);
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::readAvailable(int timeoutMs) {
    if (stdout_ < 0)
        return;
    pollfd entry{stdout_, POLLIN, 0};
    if (::poll(&entry, 1, timeoutMs) <= 0)
        return;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(stdout_, buffer, sizeof buffer);
        if (n > 0) {
            output_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0) { // the process closed its output
            ::close(stdout_);
            stdout_ = -1;
        }
        return;
    }
}

bool ChildProcess::waitForLine(const std::string &line, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::size_t start = 0;
        for (std::size_t end; (end = output_.find('\n', start)) != std::string::npos;
             start = end + 1) {
            if (output_.compare(start, end - start, line) == 0)
                return true;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || stdout_ < 0)
            return false;
        readAvailable(static_cast<int>(std::min<long>(left.count(), 50)));
    }
}

std::string ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (output_.find('\n') == std::string::npos && stdout_ >= 0 &&
           std::chrono::steady_clock::now() < deadline)
        readAvailable(20);
    auto end = output_.find('\n');
    return end == std::string::npos ? std::string() : output_.substr(0, end);
}

const std::string &ChildProcess::output() {
    readAvailable(0);
    return output_;
}

void ChildProcess::signal(int number) {
    if (running())
        ::kill(pid_, number);
}

int ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        readAvailable(10);
    }
    return status_;
}

int ChildProcess::stop(int number, std::chrono::milliseconds grace) {
    if (!running())
        return status_;
    ::kill(pid_, number);
    if (wait(grace) != -1 || !running())
        return status_;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    status_ = -1;
    return -1;
}

} // namespace platform::testing
