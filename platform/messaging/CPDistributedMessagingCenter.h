#pragma once

// Distributed messaging centers over the session bus: a server owns the center's name, a
// message is a one-way call carrying its name and its userInfo as a binary property list, and a
// message that finds no server is dropped.

#include "PlistValue.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

class CPDistributedMessagingCenter {
public:
    using Handler = std::function<void(const std::string &messageName,
                                       const platform::PlistValue::Dictionary &userInfo)>;

    // The userInfo a message carries, from its bytes: none at all is an empty dictionary;
    // nothing when the bytes are not a property list whose root is a dictionary.
    static std::optional<platform::PlistValue::Dictionary>
    userInfoFromBytes(std::span<const std::uint8_t> bytes);

    // A center object for `name`: a client until runServerOnCurrentThread is called.
    static std::shared_ptr<CPDistributedMessagingCenter> centerNamed(const std::string &name);
    virtual ~CPDistributedMessagingCenter();

    const std::string &name() const;

    // Server side: handlers run on the thread that started the server (the main thread), which
    // is also the thread that registers handlers and stops the server. A name that another
    // server already owns is not taken over: this center then serves nothing.
    void registerForMessageName(const std::string &messageName, Handler handler);
    void unregisterForMessageName(const std::string &messageName);
    void runServerOnCurrentThread();
    void stopServer();
    // True between a successful runServerOnCurrentThread and stopServer.
    bool isServing() const;

    // Client side: fire-and-forget; true when the message was handed to the bus (a bootstrap
    // center whose name is locked hands nothing over).
    bool sendMessageName(const std::string &messageName,
                         const platform::PlistValue::Dictionary &userInfo);

    struct Private;

private:
    explicit CPDistributedMessagingCenter(const std::string &name);
    std::unique_ptr<Private> d_;
    friend void rocketbootstrap_distributedmessagingcenter_apply(CPDistributedMessagingCenter *);
};
