#include "KeyboardReader.h"

#include <QFileSystemWatcher>
#include <QSocketNotifier>

#include <libevdev/libevdev.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace controllerd {
namespace {

constexpr const char *kInputDirectory = "/dev/input";

constexpr std::array<unsigned, 26> kLetterKeys = {
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z};

using KeyChange = std::pair<std::uint16_t, std::int32_t>;

// event0, event1, … in number order.
std::vector<std::string> eventNodes() {
    std::vector<std::pair<long, std::string>> found;
    if (DIR *directory = ::opendir(kInputDirectory)) {
        while (const dirent *entry = ::readdir(directory)) {
            const char *name = entry->d_name;
            if (std::strncmp(name, "event", 5) != 0 || name[5] == '\0')
                continue;
            char *end = nullptr;
            const long number = std::strtol(name + 5, &end, 10);
            if (*end == '\0')
                found.emplace_back(number, std::string(kInputDirectory) + "/" + name);
        }
        ::closedir(directory);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> nodes;
    for (auto &node : found)
        nodes.push_back(std::move(node.second));
    return nodes;
}

// What sysfs says of a node that cannot be opened: the key bitmap is readable by anyone
// (hex words, the highest first). Empty when sysfs cannot tell.
std::optional<bool> sysfsSaysKeyboard(const std::string &node) {
    // The event device's parent is its input device, which holds the capabilities.
    const std::string name = node.substr(node.rfind('/') + 1);
    char *device = ::realpath(("/sys/class/input/" + name).c_str(), nullptr);
    if (device == nullptr)
        return std::nullopt;
    std::string path = device;
    std::free(device);
    std::ifstream file(path.substr(0, path.rfind('/')) + "/capabilities/key");
    std::string line;
    if (!file || !std::getline(file, line))
        return std::nullopt;
    std::vector<unsigned long> words; // lowest first
    std::istringstream text(line);
    std::string word;
    while (text >> word)
        words.insert(words.begin(), std::strtoul(word.c_str(), nullptr, 16));
    constexpr unsigned kBits = sizeof(unsigned long) * CHAR_BIT;
    return std::all_of(kLetterKeys.begin(), kLetterKeys.end(), [&](unsigned key) {
        return key / kBits < words.size() && (words[key / kBits] >> (key % kBits) & 1u);
    });
}

bool hasLetterKeys(const libevdev *device) {
    return libevdev_has_event_type(device, EV_KEY) &&
           std::all_of(kLetterKeys.begin(), kLetterKeys.end(),
                       [&](unsigned key) { return libevdev_has_event_code(device, EV_KEY, key); });
}

// A node whose device went away may read as at its end rather than fail (a PTY does): the
// notifier would fire for ever.
bool hungUp(int fd) {
    pollfd ready{fd, POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0 && (ready.revents & (POLLHUP | POLLERR | POLLNVAL));
}

} // namespace

struct KeyboardReader::Keyboard {
    std::string node;
    int fd = -1;
    libevdev *device = nullptr;
    QSocketNotifier *notifier = nullptr;

    std::vector<KeyChange> heldKeys() const {
        std::vector<KeyChange> held;
        for (unsigned code = 0; code <= KEY_MAX; ++code)
            if (libevdev_has_event_code(device, EV_KEY, code) &&
                libevdev_get_event_value(device, EV_KEY, code) != 0)
                held.emplace_back(static_cast<std::uint16_t>(code), 0);
        return held;
    }

    ~Keyboard() {
        if (notifier) {
            // It may be the one whose signal is running.
            notifier->setEnabled(false);
            notifier->deleteLater();
        }
        if (device)
            libevdev_free(device);
        if (fd >= 0)
            ::close(fd);
    }
};

KeyboardReader::KeyboardReader(QObject *parent) : QObject(parent) {}

KeyboardReader::~KeyboardReader() {
    keyboards_.clear();
    delete watcher_;
}

std::string KeyboardReader::refusedMessage(const std::vector<std::string> &nodes) {
    if (nodes.empty())
        return {};
    std::string list;
    for (const auto &node : nodes)
        list += (list.empty() ? "" : ", ") + node;
    return "Permission denied reading the keyboard" + std::string(nodes.size() > 1 ? "s " : " ") +
           list +
           ": the user must be in the input group (sudo usermod -aG input $USER, then log in "
           "again) or a udev rule must grant the node. Keyboards are not the desktop user's by "
           "default for a reason: a process that reads every keyboard sees every key typed, "
           "passwords included.";
}

KeyboardReader::Probe KeyboardReader::probe(const std::string &node) {
    const int fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == EACCES || errno == EPERM)
            return sysfsSaysKeyboard(node).value_or(true) ? Probe::Refused : Probe::NotAKeyboard;
        return Probe::Failed; // gone already, or no device behind it
    }
    libevdev *device = nullptr;
    if (libevdev_new_from_fd(fd, &device) < 0) {
        ::close(fd);
        return Probe::Failed;
    }
    if (!hasLetterKeys(device)) {
        libevdev_free(device);
        ::close(fd);
        return Probe::NotAKeyboard;
    }
    auto keyboard = std::make_unique<Keyboard>();
    keyboard->node = node;
    keyboard->fd = fd;
    keyboard->device = device;
    if (exclusive_ && libevdev_grab(device, LIBEVDEV_GRAB) < 0)
        emit problem(QString::fromStdString(node + " is held by another program: it also types "
                                                   "where it did before"));
    keyboard->notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    Keyboard *raw = keyboard.get();
    connect(keyboard->notifier, &QSocketNotifier::activated, this,
            [this, raw] { readEvents(raw); });
    keyboards_.push_back(std::move(keyboard));
    return Probe::Opened;
}

bool KeyboardReader::start(std::string &error) {
    error.clear();
    if (running())
        return true;
    watcher_ = new QFileSystemWatcher(this);
    watcher_->addPath(kInputDirectory);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &KeyboardReader::rescan);

    std::vector<std::string> refused;
    for (const auto &node : eventNodes()) {
        switch (probe(node)) {
        case Probe::Refused:
            refused.push_back(node);
            refused_.insert(node);
            break;
        case Probe::NotAKeyboard:
            ignored_.insert(node);
            break;
        default:
            break;
        }
    }
    error = refusedMessage(refused);
    if (!keyboards_.empty())
        return true;
    if (error.empty())
        error = "No keyboard found: no device under /dev/input has letter keys. Plug one in and "
                "connect again.";
    stop();
    return false;
}

void KeyboardReader::stop() {
    std::vector<KeyChange> releases;
    for (const auto &keyboard : keyboards_) {
        const auto held = keyboard->heldKeys();
        releases.insert(releases.end(), held.begin(), held.end());
    }
    keyboards_.clear();
    refused_.clear();
    ignored_.clear();
    if (watcher_) {
        watcher_->disconnect(this);
        watcher_->deleteLater();
        watcher_ = nullptr;
    }
    deliver(releases);
    down_.fill(0);
}

void KeyboardReader::deliver(const std::vector<KeyChange> &changes) {
    for (const auto &[code, value] : changes) {
        if (code >= down_.size())
            continue;
        std::uint8_t &holding = down_[code];
        if (value == 1 && holding++ != 0)
            continue;
        if (value == 0 && (holding == 0 || --holding != 0))
            continue;
        if (value == 2 && holding == 0)
            continue;
        emit keyEvent(code, value);
    }
}

std::vector<std::string> KeyboardReader::keyboards() const {
    std::vector<std::string> nodes;
    for (const auto &keyboard : keyboards_)
        nodes.push_back(keyboard->node);
    return nodes;
}

bool KeyboardReader::setExclusive(bool exclusive) {
    exclusive_ = exclusive;
    bool all = true;
    for (const auto &keyboard : keyboards_)
        if (libevdev_grab(keyboard->device, exclusive ? LIBEVDEV_GRAB : LIBEVDEV_UNGRAB) < 0)
            all = false;
    return all;
}

void KeyboardReader::rescan() {
    if (!running())
        return;
    const std::vector<std::string> nodes = eventNodes();
    const auto present = [&](const std::string &node) {
        return std::find(nodes.begin(), nodes.end(), node) != nodes.end();
    };

    std::vector<KeyChange> releases;
    std::vector<std::string> removed;
    for (auto it = keyboards_.begin(); it != keyboards_.end();) {
        if (present((*it)->node)) {
            ++it;
            continue;
        }
        const auto held = (*it)->heldKeys();
        releases.insert(releases.end(), held.begin(), held.end());
        removed.push_back((*it)->node);
        it = keyboards_.erase(it);
    }
    // A node name comes back with another device behind it.
    std::erase_if(refused_, [&](const std::string &node) { return !present(node); });
    std::erase_if(ignored_, [&](const std::string &node) { return !present(node); });

    std::vector<std::string> added;
    std::vector<std::string> refused;
    for (const auto &node : nodes) {
        const bool open = std::any_of(keyboards_.begin(), keyboards_.end(),
                                      [&](const auto &keyboard) { return keyboard->node == node; });
        if (open || ignored_.count(node))
            continue;
        switch (probe(node)) {
        case Probe::Opened:
            added.push_back(node);
            refused_.erase(node);
            break;
        case Probe::Refused:
            if (refused_.insert(node).second)
                refused.push_back(node);
            break;
        case Probe::NotAKeyboard:
            ignored_.insert(node);
            break;
        case Probe::Failed:
            break;
        }
    }

    deliver(releases);
    for (const auto &node : removed)
        emit keyboardRemoved(QString::fromStdString(node));
    for (const auto &node : added)
        emit keyboardAdded(QString::fromStdString(node));
    if (!refused.empty())
        emit problem(QString::fromStdString(refusedMessage(refused)));
}

void KeyboardReader::readEvents(Keyboard *keyboard) {
    std::vector<KeyChange> changes;
    bool gone = false;
    bool readAny = false;
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
        input_event event{};
        const int rc = libevdev_next_event(keyboard->device, flags, &event);
        if (rc == LIBEVDEV_READ_STATUS_SUCCESS || rc == LIBEVDEV_READ_STATUS_SYNC) {
            readAny = true;
            if (flags == LIBEVDEV_READ_FLAG_NORMAL && rc == LIBEVDEV_READ_STATUS_SYNC) {
                // SYN_DROPPED: what changed meanwhile comes as events of its own (a key
                // released during the drop as its release).
                flags = LIBEVDEV_READ_FLAG_SYNC;
                continue;
            }
            if (event.type == EV_KEY)
                changes.emplace_back(static_cast<std::uint16_t>(event.code), event.value);
            continue;
        }
        if (rc == -EAGAIN && flags == LIBEVDEV_READ_FLAG_SYNC) {
            flags = LIBEVDEV_READ_FLAG_NORMAL;
            continue;
        }
        if (rc == -EINTR)
            continue;
        // ENODEV after an unplug; anything else leaves the keyboard unreadable all the same.
        gone = rc != -EAGAIN || (!readAny && hungUp(keyboard->fd));
        break;
    }

    std::string node;
    if (gone) {
        node = keyboard->node;
        const auto held = keyboard->heldKeys();
        changes.insert(changes.end(), held.begin(), held.end());
        std::erase_if(keyboards_, [&](const auto &open) { return open.get() == keyboard; });
    }
    // Nothing of `keyboard` is touched from here: a receiver may stop the reader.
    deliver(changes);
    if (gone)
        emit keyboardRemoved(QString::fromStdString(node));
}

} // namespace controllerd
