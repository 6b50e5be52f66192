#include "PrivateSessionBus.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace platform::testing {
namespace {

const char *kConfig =
    R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    char pattern[] = "/tmp/nbrbus.XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        throw std::runtime_error("cannot create a bus folder");
    folder_ = pattern;
    const std::string config = folder_ + "/bus.conf";
    {
        std::string text = kConfig;
        text.replace(text.find("%s"), 2, folder_);
        std::ofstream(config) << text;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    std::string program = "dbus-daemon";
    std::string configArgument = "--config-file=" + config;
    std::string nofork = "--nofork";
    std::string print = "--print-address=1";
    char *argv[] = {program.data(), configArgument.data(), nofork.data(), print.data(), nullptr};
    const int error = ::posix_spawnp(&pid_, "dbus-daemon", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (error != 0) {
        ::close(pipeFds[0]);
        pid_ = -1;
        throw std::runtime_error("cannot start dbus-daemon");
    }
    // The daemon prints its address once it listens.
    std::string line;
    pollfd entry{pipeFds[0], POLLIN, 0};
    while (line.find('\n') == std::string::npos && ::poll(&entry, 1, 10000) > 0) {
        char buffer[512];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    if (line.find('\n') == std::string::npos) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw std::runtime_error("dbus-daemon printed no address");
    }
    address_ = line.substr(0, line.find('\n'));
    if (const char *old = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

PrivateSessionBus::~PrivateSessionBus() {
    if (!address_.empty()) {
        if (hadPrevious_)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", previous_.c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

} // namespace platform::testing
