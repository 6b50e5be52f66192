// The daemon stand-in as a process: its notifications on the bus, messages split across
// writes, and a controller that walks away.
#include "ControllerDaemonProcess.h"
#include "EventLoopWait.h"
#include "NBRControlSocket.h"
#include "PostedNotifications.h"
#include "TestDeviceRoot.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::testing::ControllerDaemonProcess;
using platform::testing::PostedNotifications;
using platform::testing::spinUntil;
using platform::testing::TestDeviceRoot;

namespace {

class DaemonProcess : public ::testing::Test {
protected:
    void start(std::vector<std::string> options) {
        ASSERT_TRUE(daemon_.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"), options));
    }
    std::string log() { return daemon_.log(); }

    PostedNotifications posted_{NBRSearchingNotification, NBRControllerDetectedNotification,
                                NBRDisconnectedNotification};
    TestDeviceRoot root_;
    ControllerDaemonProcess daemon_;
};

} // namespace

TEST_F(DaemonProcess, PostsSearchingConnectedAndDisconnected) {
    start({"--connect-delay", "50"});
    // The exchange runs off the main thread, as the settings page runs it, so notifications are
    // dispatched while it waits.
    std::thread client([] {
        const std::uint8_t address[6] = {1, 2, 3, 4, 5, 6};
        int fd = NBRConnectToControlSocket();
        NBRControlSetReceiveTimeout(fd, 5s);
        EXPECT_TRUE(NBRControlConnect(fd, 1, address));
        ::close(fd);
        fd = NBRConnectToControlSocket();
        NBRControlDisconnect(fd, 1);
        ::close(fd);
    });
    EXPECT_TRUE(spinUntil([this] { return posted_.names().size() >= 3; }));
    client.join();
    EXPECT_EQ(posted_.names(),
              (std::vector<std::string>{NBRSearchingNotification, NBRControllerDetectedNotification,
                                        NBRDisconnectedNotification}));
}

TEST_F(DaemonProcess, ControllerWalkingAwayIsADisconnect) {
    start({"--connected", "1,0a0b0c0d0e0f"});
    daemon_->signal(SIGUSR1);
    ASSERT_TRUE(spinUntil([this] { return !posted_.names().empty(); }));
    EXPECT_EQ(posted_.names(), std::vector<std::string>{NBRDisconnectedNotification});
    daemon_->signal(SIGUSR1); // nothing left to lose
    int fd = NBRConnectToControlSocket();
    NBRControlSetReceiveTimeout(fd, 2s);
    EXPECT_FALSE(NBRControlQueryStatus(fd));
    ::close(fd);
    EXPECT_EQ(posted_.names().size(), 1u);
    EXPECT_EQ(daemon_->stop(SIGTERM), 0);
}

TEST_F(DaemonProcess, MessagesSplitAcrossWritesAndCutShort) {
    start({"--connected", "2"});
    int fd = NBRConnectToControlSocket();
    const auto query = NBRControlEncode(NBRControlMessage{NBRControlCommandQueryStatus});
    for (std::size_t i = 0; i < NBRControlReplySize; ++i) { // one byte per write
        ASSERT_EQ(::send(fd, &query[i], 1, MSG_NOSIGNAL), 1);
        spinUntil([] { return false; }, 2ms);
    }
    NBRControlSetReceiveTimeout(fd, 2s);
    auto reply = NBRControlReceiveReply(fd);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->controllerType, 2);
    ::close(fd);

    fd = NBRConnectToControlSocket();
    const auto colour = NBRControlEncode(NBRControlMessage{NBRControlCommandSetLightColor, 1});
    ::send(fd, colour.data(), 14, MSG_NOSIGNAL); // two bytes short of the 16 it needs
    ::close(fd);
    ASSERT_TRUE(spinUntil([&] { return log().find("partial=14") != std::string::npos; }));
    EXPECT_EQ(log().find("set-light-color"), std::string::npos) << "a cut message is not acted on";
    EXPECT_TRUE(daemon_->running());
}
