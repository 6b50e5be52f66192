#pragma once

// Distributed messaging centers over the session bus: a server owns the center's name, a
// message is a one-way call carrying its name and its userInfo as a binary property list, and a
// message that finds no server is dropped.

#include "PlistValue.h"

#include <functional>
#include <memory>
#include <string>

class CPDistributedMessagingCenter {
public:
    using Handler = std::function<void(const std::string &messageName,
                                       const platform::PlistValue::Dictionary &userInfo)>;

    // A center object for `name`: a client until runServerOnCurrentThread is called.
    static std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string &name);
    virtual ~CPDistributedMessagingCenter();

    const std::string &name() const;

    // Server side: handlers run on the thread that started the server (the main thread).
    void registerForMessageName(const std::string &messageName, Handler handler);
    void runServerOnCurrentThread();
    void stopServer();

    // Client side: fire-and-forget; true when the message was handed to the bus.
    bool sendMessageName(const std::string &messageName,
                         const platform::PlistValue::Dictionary &userInfo);

    struct Private;

private:
    explicit CPDistributedMessagingCenter(const std::string &name);
    std::unique_ptr<Private> d_;
    friend void rocketbootstrap_distributedmessagingcenter_apply(CPDistributedMessagingCenter *);
};
