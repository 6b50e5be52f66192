// Status-query round trip against the controller daemon stand-in (connect, query, reply,
// close: what the settings page does each time it comes on screen), next to a raw ping-pong of
// the same 12 bytes over a socket pair.
#include "ControllerDaemonProcess.h"
#include "NBRControlSocket.h"
#include "RatioReporter.h"
#include "TestDeviceRoot.h"

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

void BM_SocketpairPingPong(benchmark::State &state) {
    int pair[2];
    ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
    std::thread echo([fd = pair[1]] {
        std::uint8_t bytes[NBRControlReplySize];
        while (::recv(fd, bytes, sizeof bytes, MSG_WAITALL) == sizeof bytes)
            ::send(fd, bytes, sizeof bytes, MSG_NOSIGNAL);
    });
    NBRControlMessage query;
    query.command = NBRControlCommandQueryStatus;
    for (auto _ : state) {
        NBRControlSend(pair[0], query);
        benchmark::DoNotOptimize(NBRControlReceiveReply(pair[0]));
    }
    ::shutdown(pair[0], SHUT_RDWR);
    echo.join();
    ::close(pair[0]);
    ::close(pair[1]);
}
BENCHMARK(BM_SocketpairPingPong)->UseRealTime()->Repetitions(3);

void BM_StatusQueryRoundTrip(benchmark::State &state) {
    platform::testing::TestDeviceRoot root;
    platform::testing::ControllerDaemonProcess daemon;
    if (!daemon.start(CONTROLLERD_PATH, "/dev/null", {"--connected", "1"})) {
        state.SkipWithError("the daemon did not start");
        return;
    }
    for (auto _ : state) {
        int fd = NBRConnectToControlSocket();
        NBRControlSetReceiveTimeout(fd, NBRStatusQueryTimeout);
        auto reply = NBRControlQueryStatus(fd);
        ::close(fd);
        if (!reply) {
            state.SkipWithError("no reply");
            break;
        }
    }
}
BENCHMARK(BM_StatusQueryRoundTrip)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    return runWithRatios(argc, argv, {{"BM_StatusQueryRoundTrip", "BM_SocketpairPingPong", 3.0}});
}
