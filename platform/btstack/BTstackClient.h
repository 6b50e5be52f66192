#pragma once

#include "FrameReader.h"
#include "btstack.h"

#include <QObject>
#include <span>

class QSocketNotifier;

namespace platform::btstack {

// The process's one connection to the daemon, behind the C functions of btstack.h. Packets are
// read when the event loop finds the socket readable and handed to the handler one by one.
class BTstackClient : public QObject {
    Q_OBJECT
  public:
    static BTstackClient &shared();

    int open();
    int close();
    bool isOpen() const { return fd_ >= 0; }
    bool send(std::uint16_t type, std::uint16_t channel, std::span<const std::uint8_t> payload);
    btstack_packet_handler_t setHandler(btstack_packet_handler_t handler);

  private:
    BTstackClient() = default;
    void readable();
    void lost();
    void deliver(std::uint8_t type, std::uint16_t channel, Bytes &payload);

    int fd_ = -1;
    // Tells a delivery loop that the handler closed or reopened the connection under it.
    unsigned generation_ = 0;
    QSocketNotifier *notifier_ = nullptr;
    FrameReader reader_;
    btstack_packet_handler_t handler_ = nullptr;
};

} // namespace platform::btstack
