#include "ControlConnection.h"

#include "ControllerDaemon.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string hexBytes(const std::uint8_t *bytes, std::size_t length) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

const char *commandName(std::int32_t command) {
    switch (command) {
    case NBRControlCommandDisconnect:
        return "disconnect";
    case NBRControlCommandConnect:
        return "connect";
    case NBRControlCommandRestart:
        return "restart";
    case NBRControlCommandSetLightColor:
        return "set-light-color";
    case NBRControlCommandQueryStatus:
        return "query-status";
    case NBRControlCommandRelease:
        return "release";
    default:
        return "unknown";
    }
}

} // namespace

ControlConnection::ControlConnection(int fd, ControllerDaemon *daemon)
    : QObject(daemon), fd_(fd), id_(daemon->nextConnectionId()), daemon_(daemon) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ControlConnection::readAvailable);
}

ControlConnection::~ControlConnection() {
    if (fd_ >= 0)
        ::close(fd_);
}

void ControlConnection::readAvailable() {
    if (closing_)
        return;
    char chunk[512];
    for (;;) {
        ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n > 0) {
            buffer_.append(chunk, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const bool ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        // Whole messages first: the client may send and close at once.
        while (buffer_.size() >= NBRControlReplySize && !closing_) {
            auto bytes = reinterpret_cast<const std::uint8_t *>(buffer_.data());
            const std::size_t length =
                NBRControlMessageLength(NBRControlDecode({bytes, 4}).command);
            if (buffer_.size() < length)
                break;
            NBRControlMessage message = NBRControlDecode({bytes, length});
            daemon_->log("conn=" + std::to_string(id_) + " recv=" + std::to_string(length) +
                         " hex=" + hexBytes(bytes, length) + " " + commandName(message.command) +
                         " type=" + std::to_string(message.controllerType));
            buffer_.erase(0, length);
            handle(message, length);
        }
        if (ended && !closing_) {
            if (!buffer_.empty())
                daemon_->log("conn=" + std::to_string(id_) +
                             " partial=" + std::to_string(buffer_.size()) + " hex=" +
                             hexBytes(reinterpret_cast<const std::uint8_t *>(buffer_.data()),
                                      buffer_.size()));
            cancelPendingConnect("client closed");
            closeLine("client closed");
        }
        return;
    }
}

void ControlConnection::handle(const NBRControlMessage &message, std::size_t) {
    const DaemonOptions &options = daemon_->options();
    const bool wantsReply = message.command == NBRControlCommandQueryStatus ||
                            message.command == NBRControlCommandConnect;
    if (wantsReply && options.neverAnswer)
        return;
    if (wantsReply && options.closeWithoutReply) {
        closeLine("closing without a reply");
        return;
    }
    switch (message.command) {
    case NBRControlCommandQueryStatus:
        later(options.replyDelayMs, [this] {
            if (!daemon_->controllerConnected()) {
                closeLine("no controller: closing without a reply");
                return;
            }
            NBRControlMessage answer;
            answer.command = NBRControlReplyAcknowledge;
            answer.controllerType = daemon_->controllerType();
            reply(answer);
        });
        break;
    case NBRControlCommandConnect: {
        BluetoothAddress address;
        std::copy(std::begin(message.payload), std::end(message.payload), address.begin());
        const std::int32_t type = message.controllerType;
        // A second connect on one line replaces the first.
        cancelPendingConnect("replaced");
        pendingConnect_ = daemon_->connectController(
            type, address,
            [self = QPointer<ControlConnection>(this), type, address](bool ok,
                                                                      const std::string &error) {
                if (self)
                    self->finishConnect(ok, error, type, address);
            });
        break;
    }
    case NBRControlCommandSetLightColor:
        daemon_->setLightColor(message.payload);
        break;
    case NBRControlCommandDisconnect:
        daemon_->disconnectController("asked by the client");
        break;
    case NBRControlCommandRelease:
        cancelPendingConnect("released");
        // The client did not take the acknowledgement (it came late or incomplete).
        if (attached_) {
            attached_ = false;
            daemon_->disconnectController("connect released by the client");
        }
        break;
    case NBRControlCommandRestart:
        daemon_->restart();
        break;
    default:
        break;
    }
}

void ControlConnection::finishConnect(bool ok, const std::string &error, std::int32_t type,
                                      const BluetoothAddress &address) {
    // The reply waits out the options' delay; the line may close meanwhile, which abandons it.
    later(daemon_->options().replyDelayMs, [this, ok, error, type, address] {
        if (!pendingConnect_)
            return;
        pendingConnect_ = 0;
        NBRControlMessage answer;
        answer.controllerType = type;
        if (!ok) {
            daemon_->log("conn=" + std::to_string(id_) + " connect refused" +
                         (error.empty() ? "" : ": " + error));
            answer.command = NBRControlCommandRelease; // anything but the acknowledgement
        } else {
            daemon_->attachController(type, address);
            attached_ = true;
            answer.command = NBRControlReplyAcknowledge;
        }
        reply(answer);
    });
}

void ControlConnection::cancelPendingConnect(const char *why) {
    if (!pendingConnect_)
        return;
    daemon_->cancelConnect(pendingConnect_);
    pendingConnect_ = 0;
    daemon_->log("conn=" + std::to_string(id_) + " connect abandoned (" + why + ")");
}

void ControlConnection::reply(const NBRControlMessage &message) {
    if (closing_) // the client went while the reply was being prepared
        return;
    const auto bytes = NBRControlEncode(message);
    const DaemonOptions &options = daemon_->options();
    const int cut = options.shortReply >= 0 ? options.shortReply : options.partialReply;
    const std::size_t length =
        cut >= 0 ? std::min<std::size_t>(static_cast<std::size_t>(cut), NBRControlReplySize)
                 : NBRControlReplySize;
    if (options.trickleMs > 0) {
        trickle(bytes, 0, length);
        return;
    }
    ::send(fd_, bytes.data(), length, MSG_NOSIGNAL);
    daemon_->log("conn=" + std::to_string(id_) + " sent=" + std::to_string(length) +
                 " hex=" + hexBytes(bytes.data(), length));
    replySent(length);
}

void ControlConnection::trickle(std::array<std::uint8_t, NBRControlMessageSize> bytes,
                                std::size_t next, std::size_t length) {
    if (closing_) // the client gave up on the reply
        return;
    if (next < length) {
        ::send(fd_, &bytes[next], 1, MSG_NOSIGNAL);
        daemon_->log("conn=" + std::to_string(id_) + " sent=1 hex=" + hexBytes(&bytes[next], 1) +
                     " trickled=" + std::to_string(next + 1) + "/" + std::to_string(length));
    }
    if (next + 1 >= length) {
        replySent(length);
        return;
    }
    QTimer::singleShot(daemon_->options().trickleMs, this,
                       [this, bytes, next, length] { trickle(bytes, next + 1, length); });
}

void ControlConnection::replySent(std::size_t length) {
    const DaemonOptions &options = daemon_->options();
    if (options.shortReply >= 0)
        closeLine("short reply sent");
    else if (options.partialReply >= 0)
        daemon_->log("conn=" + std::to_string(id_) + " silent after " + std::to_string(length) +
                     " bytes");
}

void ControlConnection::later(int delayMs, std::function<void()> work) {
    if (delayMs <= 0) {
        work();
        return;
    }
    QTimer::singleShot(delayMs, this, std::move(work));
}

void ControlConnection::closeLine(const char *why) {
    if (closing_)
        return;
    closing_ = true;
    notifier_->setEnabled(false);
    daemon_->log("conn=" + std::to_string(id_) + " closed (" + why + ")");
    ::close(fd_);
    fd_ = -1;
    deleteLater();
}
