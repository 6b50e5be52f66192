#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

int g_pipe[2] = {-1, -1};

void handler(int signalNumber) {
    int saved = errno;
    unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(std::initializer_list<int> numbers, QObject *parent)
    : QObject(parent) {
    if (g_pipe[0] < 0) {
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe);
        ::fcntl(g_pipe[1], F_SETFL, O_NONBLOCK);
        ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    }
    notifier_ = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &UnixSignalWatcher::drain);
    for (int number : numbers) {
        struct sigaction action {};
        action.sa_handler = handler;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(number, &action, nullptr);
    }
}

UnixSignalWatcher::~UnixSignalWatcher() = default;

void UnixSignalWatcher::drain() {
    unsigned char byte;
    while (::read(g_pipe[0], &byte, 1) == 1)
        emit received(byte);
}

void UnixSignalWatcher::quitApplicationOn(std::initializer_list<int> numbers) {
    auto *watcher = new UnixSignalWatcher(numbers, QCoreApplication::instance());
    QObject::connect(watcher, &UnixSignalWatcher::received, QCoreApplication::instance(),
                     &QCoreApplication::quit);
}

} // namespace platform
