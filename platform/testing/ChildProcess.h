#pragma once

#include "TestTimeScale.h"

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::testing {

// A real process started by a test, with its standard output captured (a pipe: a child that
// writes much more than 64 KiB between reads blocks, so send big logs to a file instead). Stopped
// (SIGTERM, then SIGKILL after a grace period) when the object goes, so a failing test leaves
// nothing behind.
// What a child gets beyond what it inherits from the test process.
struct ChildSetup {
    // "NAME=value" entries, each replacing that variable of the test's environment.
    std::vector<std::string> environment;
    // File modes hold for the child even when the test runs as root: it starts without
    // CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH and CAP_FOWNER, as a user's session would.
    bool obeyFileModes = false;
};

// Starts argv[0] (searched in PATH) with `stdoutFd` as its standard output; with `quiet` its
// standard error goes to /dev/null. The child ends when the calling process does, even by a
// crash, so no test can leave a process behind that holds the test runner's output open.
// Returns the pid, or -1.
pid_t spawnTiedToParent(const char *const *argv, int stdoutFd, bool quiet,
                        const ChildSetup &setup = {});

// How many processes have `entry` ("NAME=value") in their environment: what a run that set it
// has left behind.
int processesWithEnvironment(const std::string &entry);

class ChildProcess {
public:
    ChildProcess(std::string program, std::vector<std::string> arguments,
                 const ChildSetup &setup = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    pid_t pid() const { return pid_; }
    bool running();

    // Waits for a whole line of output equal to `line` ("ready" for the stand-in daemons).
    bool waitForLine(const std::string &line,
                     std::chrono::milliseconds timeout = scaled(std::chrono::seconds(10)));
    // The first line of output (without its newline); empty when none came in time.
    std::string readLine(std::chrono::milliseconds timeout);
    // Everything the process has written to standard output so far.
    const std::string &output();

    void signal(int number);
    // Sends `number` and waits for the exit; the exit status, or -1 if it had to be killed, or
    // 128 + signal when a signal ended it.
    int stop(int number = 15, std::chrono::milliseconds grace = std::chrono::seconds(5));
    // Waits for the process to end by itself; -1 on time-out.
    int wait(std::chrono::milliseconds timeout);

private:
    void readAvailable(int timeoutMs);
    pid_t pid_ = -1;
    int stdout_ = -1;
    int status_ = -1;
    std::string output_;
};

} // namespace platform::testing
