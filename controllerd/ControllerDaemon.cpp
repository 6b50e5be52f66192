#include "ControllerDaemon.h"

#include "ControlConnection.h"
#include "DevicePath.h"
#include "SimulatorBackend.h"
#include "notify.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::string hexColor(const std::uint8_t *rgb) {
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", rgb[0], rgb[1], rgb[2]);
    return text;
}

} // namespace

ControllerDaemon::ControllerDaemon(DaemonOptions options,
                                   std::unique_ptr<ControllerBackend> backend, QObject *parent)
    : QObject(parent), options_(std::move(options)), backend_(std::move(backend)) {
    if (!backend_)
        backend_ = std::make_unique<SimulatorBackend>(options_);
    backend_->setLog([this](const std::string &line) { log(line); });
    connect(backend_.get(), &ControllerBackend::controllerAttached, this,
            &ControllerDaemon::attachController);
    connect(backend_.get(), &ControllerBackend::controllerDetached, this,
            [this](const QString &why) { detachController(why.toStdString()); });
    if (options_.connectedType) {
        connected_ = true;
        type_ = *options_.connectedType;
        address_ = options_.connectedAddress;
    }
}

ControllerDaemon::~ControllerDaemon() {
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        ::unlink(socketPath_.c_str());
    }
    if (log_ && log_ != stdout)
        std::fclose(log_);
}

bool ControllerDaemon::listen(std::string &error) {
    if (!options_.logPath.empty()) {
        log_ = std::fopen(options_.logPath.c_str(), "a");
        if (!log_) {
            log_ = stdout;
            error = "cannot open log " + options_.logPath + ": " + std::strerror(errno);
            return false;
        }
    }
    socketPath_ = platform::devicePath(NBRControlSocketPath);
    sockaddr_un address{};
    if (socketPath_.size() >= sizeof address.sun_path) {
        error = "socket path too long: " + socketPath_;
        return false;
    }
    // A leftover socket file is reused only when no daemon answers on it.
    int probe = NBRConnectToControlSocket();
    if (probe >= 0) {
        ::close(probe);
        error = "another controller daemon is already listening on " + socketPath_;
        return false;
    }
    ::unlink(socketPath_.c_str());

    listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    if (listenFd_ < 0 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listenFd_, 64) != 0) {
        error = "cannot listen on " + socketPath_ + ": " + std::strerror(errno);
        if (listenFd_ >= 0)
            ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    acceptNotifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(acceptNotifier_, &QSocketNotifier::activated, this, &ControllerDaemon::acceptPending);
    log("listening " + socketPath_ +
        (connected_ ? " controller type=" + std::to_string(type_) +
                          " address=" + formatBluetoothAddress(address_)
                    : " no controller"));
    return true;
}

void ControllerDaemon::acceptPending() {
    // What clients sent on open lines before making this connection is handled first, so the
    // daemon acts in the order the clients did (a colour sent before a disconnect stays first).
    for (ControlConnection *open : findChildren<ControlConnection *>(Qt::FindDirectChildrenOnly))
        open->readAvailable();
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        auto *connection = new ControlConnection(fd, this);
        connection->readAvailable();
    }
}

void ControllerDaemon::post(const char *name) {
    log(std::string("post ") + name);
    notify_post(name);
}

std::uint64_t ControllerDaemon::connectController(std::int32_t type,
                                                  const BluetoothAddress &address,
                                                  ControllerBackend::Done done) {
    post(NBRSearchingNotification);
    return backend_->connectController(type, address, std::move(done));
}

void ControllerDaemon::attachController(std::int32_t type, const BluetoothAddress &given) {
    // A PS3 controller's connect carries no address: the one its backend found stays.
    const bool noAddress = given == BluetoothAddress{};
    const BluetoothAddress address = connected_ && noAddress ? address_ : given;
    // The same controller reported again (by the backend, then by the acknowledgement).
    if (connected_ && type_ == type && address_ == address)
        return;
    const bool wasConnected = connected_;
    connected_ = true;
    type_ = type;
    address_ = address;
    log("controller connected type=" + std::to_string(type) +
        " address=" + formatBluetoothAddress(address_));
    if (!wasConnected)
        post(NBRControllerDetectedNotification);
}

void ControllerDaemon::disconnectController(const char *why) {
    if (!connected_)
        return;
    backend_->disconnectController();
    detachController(why);
}

void ControllerDaemon::detachController(const std::string &why) {
    if (!connected_)
        return;
    connected_ = false;
    log("controller disconnected (" + why + ")");
    post(NBRDisconnectedNotification);
}

void ControllerDaemon::setLightColor(const std::uint8_t *rgb) {
    std::memcpy(lightColor_, rgb, sizeof lightColor_);
    log("light bar " + hexColor(lightColor_) +
        backend_->showLightColor(connected_, type_, lightColor_));
}

void ControllerDaemon::restart() {
    log("restart");
    detachController("restart");
    backend_->restart();
}

void ControllerDaemon::log(const std::string &line) {
    if (options_.timestamps) {
        // The clock a test's own steady_clock reads, so that times compare across processes.
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        std::fprintf(log_, "t=%lld.%06ld ", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
    }
    std::fprintf(log_, "%s\n", line.c_str());
    std::fflush(log_);
}
