#include "AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct SplitPath {
    std::string folder;
    std::string name;
};

SplitPath splitPath(const std::string &path) {
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return true;
}

void syncFolder(const std::string &folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool writeFileAtomically(const std::string &path, std::span<const std::uint8_t> bytes) {
    SplitPath parts = splitPath(path);
    if (parts.name.empty()) {
        errno = EISDIR;
        return false;
    }

    mode_t mode = 0644;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        mode = existing.st_mode & 07777;

    // mkostemp opens with O_CREAT | O_EXCL, so it never follows a link planted at the name.
    std::string temporary = parts.folder + "/" + parts.name + ".XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return false;

    bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, bytes) && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        savedErrno = errno;
    }
    if (written && ::rename(temporary.c_str(), path.c_str()) == 0) {
        syncFolder(parts.folder);
        return true;
    }
    if (written)
        savedErrno = errno;
    ::unlink(temporary.c_str());
    errno = savedErrno;
    return false;
}

bool readWholeFile(const std::string &path, std::string &contents, std::size_t limit) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > limit) {
        ::close(fd);
        return false;
    }
    contents.clear();
    char buffer[16384];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return n == 0;
        }
        if (contents.size() + static_cast<std::size_t>(n) > limit) {
            ::close(fd);
            return false;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
}

} // namespace platform
