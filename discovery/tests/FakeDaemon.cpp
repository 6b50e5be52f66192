#include "FakeDaemon.h"

#include "DevicePath.h"
#include "FrameReader.h"

#include <cstring>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

using namespace platform::btstack;

FakeDaemon::FakeDaemon() {
    std::string path = platform::devicePath(BTSTACK_UNIX);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ::unlink(path.c_str());
    if (::bind(listen_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listen_, 4) != 0)
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
