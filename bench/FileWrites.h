#pragma once

#include <chrono>
#include <string>
#include <vector>

// Writes to a few files, as inotify reports them: a wait that sleeps until one of them changes
// instead of polling, so the waiting costs the writer no processor time and adds no poll period.
class FileWrites {
public:
    explicit FileWrites(const std::vector<std::string> &paths);
    ~FileWrites();
    FileWrites(const FileWrites &) = delete;
    FileWrites &operator=(const FileWrites &) = delete;

    // False when a file could not be watched.
    bool watching() const { return watching_; }

    // Checks `landed()` now and after each write to a watched file; false when it still does not
    // hold at `timeout`.
    template <class Condition> bool waitUntil(Condition landed, std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!landed()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() < 0)
                return false;
            waitForWrite(left);
        }
        return true;
    }

private:
    // Returns after a write (or a few, drained together), or after `timeout`.
    void waitForWrite(std::chrono::milliseconds timeout);

    int fd_ = -1;
    bool watching_ = false;
};

// The lines a log file gains, read from where the last look stopped, so that a long run does not
// read its whole log again for every line it waits for.
class LogTail {
public:
    explicit LogTail(std::string path) : path_(std::move(path)) {}

    // Whether the text read since the last match holds `text`; a match consumes the log up to
    // the end of its line.
    bool take(const std::string &text);
    // Everything read so far is passed over.
    void skipToEnd();

private:
    void readMore();

    std::string path_;
    long offset_ = 0;
    std::string pending_;
};
