#pragma once

// The daemon on its Linux backend as a process: BlueZ is python-dbusmock's on a bus of the
// test's own, /sys and /dev a umockdev tree; the control socket and the notifications are real.
#include "BlueZDouble.h"
#include "ControllerDaemonProcess.h"
#include "ControllerSysfs.h"
#include "EventLoopWait.h"
#include "NBRControlSocket.h"
#include "PostedNotifications.h"
#include "TestDeviceRoot.h"

#include <array>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace linux_daemon {

using namespace std::chrono_literals;
using platform::testing::scaled;
using platform::testing::spinUntil;

// The reply to a connect and how long it took; a client thread waits for it (up to the page's
// 20 s) while the test's thread keeps the event loop going.
struct ConnectOutcome {
    bool acknowledged = false;
    std::chrono::milliseconds took{};
};

inline std::future<ConnectOutcome> startConnect(std::int32_t type,
                                                std::array<std::uint8_t, 6> address) {
    return std::async(std::launch::async, [type, address] {
        const auto start = std::chrono::steady_clock::now();
        ConnectOutcome outcome;
        int fd = NBRConnectToControlSocket();
        if (fd >= 0 && NBRControlSetReceiveTimeout(fd, 20s)) {
            outcome.acknowledged = NBRControlConnect(fd, type, address);
            // As the page does after a connect that was not acknowledged.
            if (!outcome.acknowledged)
                NBRControlSend(fd, NBRControlMessage{.command = NBRControlCommandRelease});
        }
        if (fd >= 0)
            ::close(fd);
        outcome.took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
        return outcome;
    });
}

inline ConnectOutcome finish(std::future<ConnectOutcome> &pending) {
    spinUntil([&] { return pending.wait_for(0s) == std::future_status::ready; }, scaled(25s));
    return pending.get();
}

class LinuxDaemonOnDoubles : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_FALSE(sysfs_.root().empty()) << sysfs_.error();
        ASSERT_TRUE(bluez_.start(NBR_BLUEZ_TEMPLATE, &error)) << error;
    }

    void start() {
        platform::testing::ChildSetup setup = sysfs_.childSetup();
        setup.environment.push_back("DBUS_SYSTEM_BUS_ADDRESS=" + bluez_.busAddress());
        ASSERT_TRUE(daemon_.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"),
                                  {"--backend", "linux"}, setup));
    }

    std::string log() const { return daemon_.log(); }

    bool connected() {
        int fd = NBRConnectToControlSocket();
        if (fd < 0 || !NBRControlSetReceiveTimeout(fd, 2s)) {
            ADD_FAILURE() << "the daemon does not answer";
            return false;
        }
        const bool answer = NBRConnectedAfterStatusReply(NBRControlQueryStatus(fd), false);
        ::close(fd);
        return answer;
    }

    static void disconnect(std::int32_t type) {
        int fd = NBRConnectToControlSocket();
        ASSERT_GE(fd, 0);
        NBRControlDisconnect(fd, type);
        ::close(fd);
    }

    // The notifications posted since the last call are `expected`, in that order.
    bool posted(std::vector<std::string> expected) {
        spinUntil([&] { return posted_.names().size() >= expected.size(); }, scaled(5s));
        const bool same = posted_.names() == expected;
        if (!same)
            for (const auto &name : posted_.names())
                ADD_FAILURE() << "posted " << name;
        posted_.names().clear();
        return same;
    }

    platform::testing::PostedNotifications posted_{NBRSearchingNotification,
                                                   NBRControllerDetectedNotification,
                                                   NBRDisconnectedNotification};
    platform::testing::TestDeviceRoot root_;
    platform::testing::BlueZDouble bluez_;
    platform::testing::ControllerSysfs sysfs_;
    platform::testing::ControllerDaemonProcess daemon_;
};

} // namespace linux_daemon
