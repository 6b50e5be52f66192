#include "PrivateSessionBus.h"

#include "ChildProcess.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

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

PrivateBus::PrivateBus() {
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
    std::string configArgument = "--config-file=" + config;
    const char *argv[] = {"dbus-daemon", configArgument.c_str(), "--nofork", "--print-address=1",
                          nullptr};
    pid_ = spawnTiedToParent(argv, pipeFds[1], /*quiet=*/true);
    ::close(pipeFds[1]);
    if (pid_ < 0) {
        ::close(pipeFds[0]);
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
}

PrivateBus::~PrivateBus() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

bool usePrivateSessionBus() {
    static std::unique_ptr<PrivateSessionBus> bus; // lives until the process ends
    if (bus)
        return true;
    try {
        bus = std::make_unique<PrivateSessionBus>();
    } catch (const std::exception &) {
        return false;
    }
    return true;
}

bool listingTestsOnly(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    return false;
}

} // namespace platform::testing
