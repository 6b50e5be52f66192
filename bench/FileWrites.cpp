#include "FileWrites.h"

#include <cstdio>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

FileWrites::FileWrites(const std::vector<std::string> &paths)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    watching_ = fd_ >= 0;
    for (const auto &path : paths)
        watching_ =
            watching_ && ::inotify_add_watch(fd_, path.c_str(), IN_MODIFY | IN_CLOSE_WRITE) >= 0;
}

FileWrites::~FileWrites() {
    if (fd_ >= 0)
        ::close(fd_);
}

void FileWrites::waitForWrite(std::chrono::milliseconds timeout) {
    pollfd ready{fd_, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
        return;
    alignas(inotify_event) char events[4096];
    while (::read(fd_, events, sizeof events) > 0) {
    }
}

bool LogTail::take(const std::string &text) {
    readMore();
    const auto at = pending_.find(text);
    if (at == std::string::npos) {
        // Only a line still being written can hold the start of a later match.
        const auto lineEnd = pending_.rfind('\n');
        if (lineEnd != std::string::npos)
            pending_.erase(0, lineEnd + 1);
        return false;
    }
    const auto lineEnd = pending_.find('\n', at);
    pending_.erase(0, lineEnd == std::string::npos ? pending_.size() : lineEnd + 1);
    return true;
}

void LogTail::skipToEnd() {
    readMore();
    pending_.clear();
}

void LogTail::readMore() {
    std::FILE *file = std::fopen(path_.c_str(), "rb");
    if (!file)
        return;
    if (std::fseek(file, offset_, SEEK_SET) == 0) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            pending_.append(buffer, n);
    }
    offset_ = std::ftell(file);
    std::fclose(file);
}
