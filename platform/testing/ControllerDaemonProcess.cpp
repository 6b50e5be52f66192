#include "ControllerDaemonProcess.h"

#include "EventLoopWait.h"
#include "TestDeviceRoot.h"

#include <sstream>

namespace platform::testing {

bool ControllerDaemonProcess::start(const std::string &program, std::string logPath,
                                    std::vector<std::string> options,
                                    const ChildSetup &setup) {
    logPath_ = std::move(logPath);
    options.insert(options.begin(), {"--log", logPath_});
    process_ = std::make_unique<ChildProcess>(program, std::move(options), setup);
    return process_->waitForLine("ready");
}

std::string ControllerDaemonProcess::log() const {
    return readFile(logPath_);
}

bool ControllerDaemonProcess::waitForLog(const std::string &text,
                                         std::chrono::milliseconds timeout) const {
    return spinUntil([&] { return log().find(text) != std::string::npos; }, timeout);
}

std::vector<ControllerDaemonProcess::Message> ControllerDaemonProcess::received() const {
    std::vector<Message> all;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
        const auto recv = line.find(" recv=");
        const auto hex = line.find(" hex=");
        if (!line.starts_with("conn=") || recv == std::string::npos || hex == std::string::npos)
            continue;
        const auto end = line.find(' ', hex + 5);
        all.push_back({std::stoi(line.substr(5, recv - 5)), std::stoi(line.substr(recv + 6)),
                       line.substr(hex + 5, end == std::string::npos ? end : end - hex - 5)});
    }
    return all;
}

std::vector<ControllerDaemonProcess::LightBar> ControllerDaemonProcess::lightBars() const {
    std::vector<LightBar> all;
    std::istringstream lines(log());
    for (std::string line; std::getline(lines, line);) {
        const auto bar = line.find(" light bar ");
        if (line.starts_with("t=") && bar != std::string::npos)
            all.push_back({std::stod(line.substr(2)), line.substr(bar + 11, 6),
                           line.find(" shown", bar + 11) == bar + 17});
    }
    return all;
}

} // namespace platform::testing
