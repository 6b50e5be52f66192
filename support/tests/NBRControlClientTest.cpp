// The client operations against the controller daemon stand-in, run as a real process.
#include "ChildProcess.h"
#include "ControllerDaemonProcess.h"
#include "EventLoopWait.h"
#include "NBRControlSocket.h"
#include "TestDeviceRoot.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;
using platform::testing::ChildProcess;
using platform::testing::ControllerDaemonProcess;
using platform::testing::spinUntil;
using platform::testing::TestDeviceRoot;

namespace {

const std::uint8_t kAddress[6] = {0x0a, 0x1b, 0x2c, 0x3d, 0x4e, 0x5f};

class ControlClient : public ::testing::Test {
protected:
    void SetUp() override {
        // A send to a daemon that has gone must not end this process.
        ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL) == SIG_ERR, false);
    }

    void startDaemon(std::vector<std::string> options = {}) {
        ASSERT_TRUE(daemon_.start(CONTROLLERD_PATH, root_.path("/tmp/controllerd.log"), options));
    }

    // The messages the daemon received, as "recv=<length> hex=<bytes>", connection by
    // connection (the daemon serves connections side by side, so only each one's order holds).
    std::vector<std::string> received() {
        auto messages = daemon_.received();
        std::stable_sort(messages.begin(), messages.end(),
                         [](const auto &a, const auto &b) { return a.connection < b.connection; });
        std::vector<std::string> lines;
        for (const auto &message : messages)
            lines.push_back("recv=" + std::to_string(message.length) + " hex=" + message.hex);
        return lines;
    }

    bool logged(const std::string &text) { return daemon_.waitForLog(text); }
    std::string log() { return daemon_.log(); }

    // Waits until the daemon has logged `count` received messages (they travel asynchronously).
    std::vector<std::string> receivedAtLeast(std::size_t count) {
        spinUntil([&] { return received().size() >= count; }, 2s);
        return received();
    }

    int connectOrFail() {
        int fd = NBRConnectToControlSocket();
        EXPECT_GE(fd, 0);
        return fd;
    }

    TestDeviceRoot root_;
    ControllerDaemonProcess daemon_;
};

} // namespace

TEST_F(ControlClient, NoDaemonListening) {
    EXPECT_EQ(NBRConnectToControlSocket(), -1);
}

TEST_F(ControlClient, StatusQueryWithoutAControllerReadsNotConnected) {
    startDaemon();
    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout));
    auto reply = NBRControlQueryStatus(fd);
    ::close(fd);
    EXPECT_FALSE(reply) << "the daemon closes without a reply";
    EXPECT_FALSE(NBRConnectedAfterStatusReply(reply, true));
    EXPECT_EQ(received(), (std::vector<std::string>{"recv=12 hex=050000000000000000000000"}));
}

TEST_F(ControlClient, ConnectColourQueryAndDisconnect) {
    startDaemon({"--connect-delay", "20"});

    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, NBRConnectTimeout));
    ASSERT_TRUE(NBRControlConnect(fd, 1, kAddress));
    NBRControlSetLightColor(fd, 0x004EFD); // on the same connection, as after an acknowledgement
    ::close(fd);

    fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout));
    auto status = NBRControlQueryStatus(fd);
    ::close(fd);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->controllerType, 1);
    EXPECT_TRUE(NBRConnectedAfterStatusReply(status, false));

    fd = connectOrFail();
    NBRControlDisconnect(fd, 1);
    ::close(fd);

    fd = connectOrFail();
    NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout);
    EXPECT_FALSE(NBRControlQueryStatus(fd)) << "disconnected now";
    ::close(fd);

    EXPECT_EQ(receivedAtLeast(6), (std::vector<std::string>{
                                      "recv=20 hex=0100000001000000000000000a1b2c3d4e5f0000",
                                      "recv=16 hex=040000000100000000000000004efd00",
                                      "recv=12 hex=050000000000000000000000",
                                      "recv=12 hex=000000000100000000000000",
                                      "recv=12 hex=060000000100000000000000",
                                      "recv=12 hex=050000000000000000000000",
                                  }));
    EXPECT_TRUE(logged("light bar 004efd shown")) << log();
    EXPECT_TRUE(logged("controller disconnected")) << log();
}

TEST_F(ControlClient, RestartReadsNoReply) {
    startDaemon({"--connected", "1,0a1b2c3d4e5f"});
    int fd = connectOrFail();
    NBRControlRestart(fd);
    ::close(fd);
    EXPECT_EQ(receivedAtLeast(1),
              std::vector<std::string>{"recv=20 hex=0300000000000000000000000000000000000000"});
    EXPECT_TRUE(logged("controller disconnected (restart)")) << log();
}

TEST_F(ControlClient, SilentDaemonTimesOut) {
    startDaemon({"--never-answer"});

    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout));
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(NBRControlQueryStatus(fd));
    auto waited = std::chrono::steady_clock::now() - started;
    ::close(fd);
    EXPECT_GE(waited, 950ms) << "the status query waits its whole second";
    EXPECT_LT(waited, 5s);

    // The connect time-out is shortened here through its parameter.
    fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, 300ms));
    started = std::chrono::steady_clock::now();
    EXPECT_FALSE(NBRControlConnect(fd, 1, kAddress));
    waited = std::chrono::steady_clock::now() - started;
    ::close(fd);
    EXPECT_GE(waited, 280ms);
    auto messages = receivedAtLeast(3);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2], "recv=12 hex=060000000000000000000000") << "release after no answer";
}

TEST_F(ControlClient, DaemonClosingWithoutReplyIsLikeATimeOutAndRaisesNoSigpipe) {
    startDaemon({"--close-without-reply"});
    for (int attempt = 0; attempt < 20; ++attempt) {
        int fd = connectOrFail();
        ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, 2s));
        EXPECT_FALSE(NBRControlConnect(fd, 1, kAddress));
        // The line is gone: these sends hit a closed peer.
        NBRControlSetLightColor(fd, 0xFFFFFF);
        NBRControlDisconnect(fd, 1);
        ::close(fd);
    }
    SUCCEED() << "still alive after sending into closed connections";
    EXPECT_TRUE(daemon_->running());
}

TEST_F(ControlClient, RefusedConnectIsReleased) {
    startDaemon({"--refuse-connect", "--connect-delay", "0"});
    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, 2s));
    EXPECT_FALSE(NBRControlConnect(fd, 2, kAddress));
    ::close(fd);
    EXPECT_EQ(receivedAtLeast(2), (std::vector<std::string>{
                                      "recv=20 hex=0100000002000000000000000a1b2c3d4e5f0000",
                                      "recv=12 hex=060000000000000000000000",
                                  }));
}

TEST_F(ControlClient, ShortRepliesReadAsNoReply) {
    startDaemon({"--connected", "1,0a1b2c3d4e5f", "--short-reply", "11", "--connect-delay", "0"});
    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, 2s));
    EXPECT_FALSE(NBRControlQueryStatus(fd));
    ::close(fd);

    fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, 2s));
    EXPECT_FALSE(NBRControlConnect(fd, 1, kAddress)) << "11 of 12 bytes is no acknowledgement";
    ::close(fd);
}

// However much of a reply comes before the daemon goes quiet, or however slowly it trickles,
// the wait ends at the one deadline set for the whole reply, and what came is no reply.
TEST_F(ControlClient, PartialAndTrickledRepliesEndAtTheDeadline) {
    constexpr auto kDeadline = 400ms;
    std::chrono::nanoseconds worst{0};
    int exchanges = 0;
    int releases = 0;
    auto timed = [&](const std::vector<std::string> &options) {
        std::filesystem::remove(root_.path("/tmp/controllerd.log"));
        std::vector<std::string> all{"--connected", "1,0a1b2c3d4e5f", "--connect-delay", "0"};
        all.insert(all.end(), options.begin(), options.end());
        startDaemon(all);
        for (bool connect : {false, true}) {
            int fd = connectOrFail();
            ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, kDeadline));
            const auto started = std::chrono::steady_clock::now();
            if (connect)
                EXPECT_FALSE(NBRControlConnect(fd, 1, kAddress)) << options[0] << options[1];
            else
                EXPECT_FALSE(NBRControlQueryStatus(fd)) << options[0] << options[1];
            const auto waited = std::chrono::steady_clock::now() - started;
            ::close(fd);
            EXPECT_GE(waited, kDeadline - 10ms);
            EXPECT_LT(waited, kDeadline * 3 / 2) << options[0] << options[1];
            worst = std::max<std::chrono::nanoseconds>(worst, waited - kDeadline);
            ++exchanges;
        }
        // The connect's release reached the daemon, which let the controller go again.
        releases += logged("controller disconnected (connect released by the client)");
        EXPECT_EQ(daemon_->stop(), 0);
    };
    for (int cut = 0; cut < 12; ++cut)
        timed({"--partial-reply", std::to_string(cut)});
    timed({"--trickle", "60"}); // the last byte would come 660 ms after the first
    EXPECT_EQ(releases, 13);
    std::printf("partial replies: %d exchanges, %d releases, worst overrun %.1f ms\n", exchanges,
                releases, std::chrono::duration<double, std::milli>(worst).count());
}

TEST_F(ControlClient, SlowDaemonWithinTheTimeOut) {
    startDaemon({"--connected", "3", "--delay", "200"});
    int fd = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout));
    auto status = NBRControlQueryStatus(fd);
    ::close(fd);
    ASSERT_TRUE(status);
    EXPECT_EQ(status->controllerType, 3);
}

TEST_F(ControlClient, SeveralConnectionsAtOnce) {
    startDaemon({"--connect-delay", "400"});
    int connecting = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(connecting, NBRConnectTimeout));
    std::thread connect([&] { EXPECT_TRUE(NBRControlConnect(connecting, 1, kAddress)); });

    // While the connect is pending, a status query on a second line is answered at once.
    receivedAtLeast(1);
    int querying = connectOrFail();
    ASSERT_TRUE(NBRControlSetReceiveTimeout(querying, NBRStatusQueryTimeout));
    EXPECT_FALSE(NBRControlQueryStatus(querying)) << "not connected yet";
    ::close(querying);

    connect.join();
    ::close(connecting);
}

// A daemon that has stopped taking connections: once its queue is full a bounded connect gives
// up after its wait instead of holding the caller, and the daemon is reached again once it goes
// on.
TEST_F(ControlClient, BoundedConnectGivesUpOnADaemonThatTakesNoConnections) {
    startDaemon();
    daemon_->signal(SIGSTOP);
    std::vector<int> queued;
    int refused = 0;
    auto waited = 0ms;
    while (refused == 0 && queued.size() < 1000) {
        const auto start = std::chrono::steady_clock::now();
        const int fd = NBRConnectToControlSocketWithin(100ms);
        if (fd >= 0) {
            queued.push_back(fd);
            continue;
        }
        ++refused;
        waited = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    }
    daemon_->signal(SIGCONT);
    for (int fd : queued)
        ::close(fd);
    EXPECT_EQ(refused, 1) << queued.size() << " connections queued";
    EXPECT_GT(queued.size(), 0u);
    EXPECT_GE(waited, 100ms) << "it waited for room first";
    const int again = NBRConnectToControlSocketWithin(1000ms);
    EXPECT_GE(again, 0);
    ::close(again);
}

TEST_F(ControlClient, ASecondDaemonRefusesToStartOverALiveOne) {
    startDaemon();
    ChildProcess second(CONTROLLERD_PATH, {});
    EXPECT_EQ(second.wait(5s), 1);
    EXPECT_TRUE(daemon_->running());
    int fd = connectOrFail();
    ::close(fd);
}

TEST_F(ControlClient, StaleSocketFileIsReplaced) {
    { std::ofstream(root_.path(NBRControlSocketPath)) << "stale"; }
    startDaemon();
    int fd = connectOrFail();
    ::close(fd);
    EXPECT_EQ(daemon_->stop(SIGINT), 0);
    EXPECT_FALSE(std::filesystem::exists(root_.path(NBRControlSocketPath)))
        << "the daemon removes its socket on the way out";
}
