// A light-bar colour update as a colour pick sends it (its own connection: connect, one send,
// close, on the calling thread, nothing read back) next to a bare connect and close of the same
// socket in the same run.
#include "ConnectedPage.h"
#include "NBRControlSocket.h"
#include "RatioReporter.h"

#include <QApplication>
#include <unistd.h>

namespace {

ConnectedPage &setting() {
    return sharedPage(
        [](ConnectedPage &made) {
            const bool started = made.start("/dev/null");
            if (started)
                made.page->specifiers();
            return started;
        },
        "the controller daemon did not start");
}

void BM_RawConnect(benchmark::State &state) {
    setting();
    for (auto _ : state) {
        const int fd = NBRConnectToControlSocket();
        if (fd < 0) {
            state.SkipWithError("connect failed");
            break;
        }
        ::close(fd);
    }
}
BENCHMARK(BM_RawConnect)->UseRealTime()->Repetitions(3);

void BM_ColorUpdateOwnConnection(benchmark::State &state) {
    sendColourUpdates(state, setting().page);
}
BENCHMARK(BM_ColorUpdateOwnConnection)->UseRealTime()->Repetitions(3);

} // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    return runWithRatios(argc, argv, {{"BM_ColorUpdateOwnConnection", "BM_RawConnect", 3.0}});
}
