#pragma once

#include <string>

namespace platform::testing {

// A listening UNIX stream socket at `path` (a leftover file there is removed first), or -1.
// `flags` are added to the socket's type, e.g. SOCK_NONBLOCK.
int listenOnUnixSocket(const std::string &path, int backlog, int flags = 0);

} // namespace platform::testing
