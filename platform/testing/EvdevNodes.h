#pragma once

// What ControllerSysfs's event nodes answer, shared by its keyboards and the devices made
// through its /dev/uinput, and read on umockdev's ioctl thread.
#include "ControllerSysfs.h"

#include <linux/input.h>

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

namespace platform::testing {

struct EvdevNode {
    std::string name;
    input_id id{};
    std::map<unsigned, std::vector<unsigned>> codes; // by event type
    std::map<unsigned, input_absinfo> axes;          // EV_ABS's ranges, by code
    std::set<unsigned> down;                         // keys held
    unsigned leds = 0;
    bool grabbed = false;
    int master = -1; // the test's end of the PTY
};

struct ControllerSysfs::EvdevNodes {
    using Node = EvdevNode;
    std::mutex lock;
    std::map<std::string, Node> nodes; // by "/dev/input/eventN"
};

// The same as a sysfs capabilities attribute: hex longs, the highest first.
std::string sysfsBitmap(const std::vector<unsigned> &codes);

// The `size` bytes the ioctl's argument points to (unref when done); null, with the ioctl failed
// (EFAULT), when they cannot be reached.
UMockdevIoctlData *ioctlArgument(UMockdevIoctlClient *client, std::size_t size);
// Completes an ioctl whose argument points to `size` bytes with `bytes` (zero-filled beyond
// `length`) and `result`.
void replyToIoctl(UMockdevIoctlClient *client, std::size_t size, const void *bytes,
                  std::size_t length, long result);

} // namespace platform::testing
