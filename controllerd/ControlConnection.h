#pragma once

#include "BluetoothAddress.h"
#include "NBRControlSocket.h"

#include <QObject>
#include <array>
#include <functional>
#include <string>

class ControllerDaemon;
class QSocketNotifier;

// One client connection: reads whole messages (their length follows from the command), logs
// each, and answers as the daemon's options say. Deletes itself when the line closes.
class ControlConnection : public QObject {
    Q_OBJECT
public:
    ControlConnection(int fd, ControllerDaemon *daemon);
    ~ControlConnection() override;

    // Reads what is there already; a fresh connection usually has its message waiting.
    void readAvailable();

private:
    void handle(const NBRControlMessage &message, std::size_t length);
    void reply(const NBRControlMessage &message);
    // Sends byte `next` of a reply `length` bytes long, and the rest one by one after it.
    void trickle(std::array<std::uint8_t, NBRControlMessageSize> bytes, std::size_t next,
                 std::size_t length);
    void replySent(std::size_t length);
    void finishConnect(bool ok, const std::string &error, std::int32_t type,
                       const BluetoothAddress &address);
    void cancelPendingConnect(const char *why);
    void closeLine(const char *why);
    void later(int delayMs, std::function<void()> work);

    int fd_;
    int id_;
    ControllerDaemon *daemon_;
    QSocketNotifier *notifier_ = nullptr;
    // The backend's ticket of this line's connect, until its reply goes; 0 when none.
    std::uint64_t pendingConnect_ = 0;
    std::string buffer_;
    bool closing_ = false;
    // This line's connect attached the controller; a release after it undoes that.
    bool attached_ = false;
};
