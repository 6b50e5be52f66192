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

    // What the name leads to, through a link: only a regular file (or nothing) is replaced. A
    // pipe, socket or device there belongs to someone else, and a link's target may be private:
    // the new file gets no wider permissions than the file its entries came from.
    mode_t mode = 0644;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
            return false;
        }
        mode = existing.st_mode & 07777;
    }

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
    // Opening a pipe for reading waits for a writer, and opening a device may do something:
    // anything but a regular file is refused before it is opened. The open itself never waits,
    // in case the name changed in between.
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0)
        return false;
    if (!S_ISREG(before.st_mode)) {
        errno = EINVAL;
        return false;
    }
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
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
