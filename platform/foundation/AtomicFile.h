#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace platform {

// Replaces the file at `path` with `bytes` so that a reader (or a crash) only ever sees the old
// or the new content. The data goes to a temporary sibling whose name begins with the file's own
// name, created exclusively in the same folder, synced, then renamed over the file. The file's
// permission bits are kept (those of the file a link leads to, when `path` is a link); a new file
// gets 0644. Anything at `path` that is not a regular file, or a link to one, is never replaced
// (a link leading nowhere is). Returns false, with errno set, when nothing was replaced; no
// temporary file is left behind then.
bool writeFileAtomically(const std::string &path, std::span<const std::uint8_t> bytes);

// Reads a whole regular file, through links. Returns false at once for anything else (missing,
// a folder, a pipe, a socket, a device, unreadable), without opening it.
bool readWholeFile(const std::string &path, std::string &contents, std::size_t limit);

} // namespace platform
