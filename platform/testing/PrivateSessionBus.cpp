#include "PrivateSessionBus.h"

#include "ChildProcess.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unistd.h>

namespace platform::testing {
namespace {

constexpr const char *kConfig = R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";

struct Bus {
    std::string configPath;
    std::unique_ptr<ChildProcess> daemon;
    ~Bus() {
        daemon.reset();
        std::filesystem::remove(configPath);
    }
};

} // namespace

bool usePrivateSessionBus() {
    static Bus bus; // lives until the process ends
    if (bus.daemon)
        return true;
    char pattern[] = "/tmp/nbr-bus.XXXXXX";
    int fd = ::mkstemp(pattern);
    if (fd < 0)
        return false;
    ::close(fd);
    bus.configPath = pattern;
    std::ofstream(bus.configPath) << kConfig;
    try {
        bus.daemon = std::make_unique<ChildProcess>(
            "/usr/bin/dbus-daemon", std::vector<std::string>{"--config-file=" + bus.configPath,
                                                             "--nofork", "--print-address=1"});
    } catch (...) {
        return false;
    }
    std::string address = bus.daemon->readLine(std::chrono::seconds(10));
    if (address.empty()) {
        bus.daemon.reset();
        return false;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return true;
}

} // namespace platform::testing

bool platform::testing::listingTestsOnly(int argc, char **argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--gtest_list_tests") == 0)
            return true;
    return false;
}
