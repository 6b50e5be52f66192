#pragma once

#include "ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace platform::testing {

// The controller daemon stand-in as tests and benchmarks run it: logging into a file of the
// test's own, waited for until it listens, stopped with the object. The log records every
// message as "conn=<n> recv=<length> hex=<bytes> ...", which is how a test sees what the
// system sent it.
class ControllerDaemonProcess {
public:
    struct Message {
        int connection;
        int length;
        std::string hex;
    };
    // A colour the light bar was given, `at` seconds on the monotonic clock ("--timestamps");
    // `shown` once it is on the controller, not only kept for one to come.
    struct LightBar {
        double at;
        std::string colour;
        bool shown = false;
    };

    // Starts `program` with `--log logPath` ("/dev/null" for none) and then `options`; true once
    // it said it is ready. `setup` gives it more: the Linux backend's system bus and sysfs tree
    // (BlueZDouble::busAddress, ControllerSysfs::childSetup).
    bool start(const std::string &program, std::string logPath,
               std::vector<std::string> options = {}, const ChildSetup &setup = {});

    // The running process (signals, stop); null before start.
    ChildProcess *operator->() const { return process_.get(); }

    std::string log() const;
    // Waits until the log holds `text`.
    bool waitForLog(const std::string &text,
                    std::chrono::milliseconds timeout = std::chrono::seconds(2)) const;
    // Every message logged so far, in the order of the log.
    std::vector<Message> received() const;
    // Every light-bar colour logged so far, in the order of the log.
    std::vector<LightBar> lightBars() const;

private:
    std::unique_ptr<ChildProcess> process_;
    std::string logPath_;
};

} // namespace platform::testing
