#include "FakeDaemon.h"

#include "DevicePath.h"
#include "FrameReader.h"
#include "UnixListener.h"

#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

using namespace platform::btstack;

FakeDaemon::FakeDaemon() {
    std::string path = platform::devicePath(BTSTACK_UNIX);
    listen_ = platform::testing::listenOnUnixSocket(path, 4, SOCK_NONBLOCK);
    if (listen_ < 0)
        throw std::runtime_error("cannot listen at " + path);
}

FakeDaemon::~FakeDaemon() {
    if (client_ >= 0)
        ::close(client_);
    ::close(listen_);
}

void FakeDaemon::drain() {
    if (client_ < 0)
        client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client_ < 0)
        return;
    FrameReader reader;
    std::uint8_t buffer[4096];
    ssize_t n;
    Bytes all;
    while ((n = ::recv(client_, buffer, sizeof buffer, 0)) > 0)
        all.insert(all.end(), buffer, buffer + n);
    reader.append(all);
    while (auto frame = reader.next()) {
        if (frame->type != HCI_COMMAND_DATA_PACKET) {
            other_.push_back(*frame);
            continue;
        }
        auto command = decodeCommand(frame->payload);
        commands_.push_back(command ? describeCommand(*command)
                                    : "malformed " + hexBytes(frame->payload));
    }
    if (n == 0) { // the engine closed its connection; a new one may come
        ::close(client_);
        client_ = -1;
    }
}

std::vector<std::string> FakeDaemon::commands() {
    drain();
    return std::exchange(commands_, {});
}

std::vector<Frame> FakeDaemon::otherFrames() {
    drain();
    return std::exchange(other_, {});
}
