#pragma once

#include <string>
#include <string_view>

namespace platform {

// Maps a path as the device knows it ("/var/mobile/...", "/tmp/...") onto this machine's device
// root, taken from NIMBREL_ROOT. Without a root the path is used as it stands, as on the device.
std::string devicePath(std::string_view path);

} // namespace platform
