#pragma once

#include <string>
#include <string_view>

namespace platform::testing {

// A fresh device root for one test: a short folder under /tmp (UNIX socket paths stay well
// under their limit) with the device's usual folders, set as NIMBREL_ROOT for this process and
// the processes it starts, removed with everything in it at the end.
class TestDeviceRoot {
public:
    TestDeviceRoot();
    ~TestDeviceRoot();
    TestDeviceRoot(const TestDeviceRoot &) = delete;
    TestDeviceRoot &operator=(const TestDeviceRoot &) = delete;

    const std::string &root() const { return root_; }
    // The host path of a device path under this root.
    std::string path(std::string_view devicePath) const;

private:
    std::string root_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Puts a FIFO at `path`, or a link to one (the FIFO beside it, named `path`.pipe), in place of
// whatever was there: a reader that opens it blindly waits for a writer for ever. False when
// the FIFO cannot be made.
bool placeFifo(const std::string &path, bool throughLink);

} // namespace platform::testing
