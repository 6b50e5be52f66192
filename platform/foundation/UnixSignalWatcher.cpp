#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};
std::vector<UnixSignalWatcher *> g_watchers;

void handler(int signalNumber) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void dispatchPending() {
    unsigned char byte;
    while (::read(g_pipe[0], &byte, 1) == 1) {
        const auto watchers = g_watchers; // a receiver may delete a watcher
        for (UnixSignalWatcher *watcher : watchers)
            if (std::find(g_watchers.begin(), g_watchers.end(), watcher) != g_watchers.end() &&
                watcher->watches(byte))
                emit watcher->received(byte);
    }
}

// One pipe and one notifier for the whole process, made on first use on the main thread.
void ensurePipe() {
    if (g_pipe[0] >= 0)
        return;
    ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe);
    ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier =
        new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { dispatchPending(); });
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent)
    : QObject(parent), numbers_(numbers) {
    ensurePipe();
    g_watchers.push_back(this);
    for (int number : numbers_) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

UnixSignalWatcher::~UnixSignalWatcher() {
    std::erase(g_watchers, this);
}

bool UnixSignalWatcher::watches(int number) const {
    return std::find(numbers_.begin(), numbers_.end(), number) != numbers_.end();
}

void UnixSignalWatcher::quitApplicationOn(std::initializer_list<int> numbers) {
    auto *watcher = new UnixSignalWatcher(numbers, QCoreApplication::instance());
    QObject::connect(watcher, &UnixSignalWatcher::received, QCoreApplication::instance(),
                     &QCoreApplication::quit);
}

} // namespace platform
