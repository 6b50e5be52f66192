#pragma once

#include <QObject>
#include <array>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QFileSystemWatcher;

namespace controllerd {

// Every keyboard of the desktop through evdev (/dev/input/event*), for the controller that is
// a keyboard. Keyboards plugged in later are opened as they appear; one that goes away first
// releases the keys it held, so nothing downstream stays pressed.
class KeyboardReader : public QObject {
    Q_OBJECT
public:
    explicit KeyboardReader(QObject *parent = nullptr);
    ~KeyboardReader() override;

    // Opens every keyboard. False when none could be opened, with `error` saying why; true
    // with a non-empty `error` when some keyboards were refused (they are named).
    bool start(std::string &error);
    // Closes them all, releasing the keys still down.
    void stop();
    bool running() const { return watcher_ != nullptr; }

    // Node paths in use ("/dev/input/event3").
    std::vector<std::string> keyboards() const;

    // An exclusive grab: the keyboards then type nothing anywhere else. Off by default. False
    // when a keyboard could not be grabbed (another process holds it).
    bool setExclusive(bool exclusive);
    bool exclusive() const { return exclusive_; }

    // The message for keyboards that exist but cannot be read (empty `nodes`: none).
    static std::string refusedMessage(const std::vector<std::string> &nodes);

signals:
    // EV_KEY: press 1, release 0, autorepeat 2.
    void keyEvent(std::uint16_t code, std::int32_t value);
    void keyboardAdded(const QString &node);
    void keyboardRemoved(const QString &node);
    // A keyboard plugged in while reading that cannot be read, once per node.
    void problem(const QString &message);

private:
    struct Keyboard;

    enum class Probe { Opened, NotAKeyboard, Refused, Failed };
    Probe probe(const std::string &node);
    void rescan();
    void readEvents(Keyboard *keyboard);
    void drop(Keyboard *keyboard, bool releaseKeys);
    // The keyboards as one: a key is down while any keyboard holds it.
    void deliver(const std::vector<std::pair<std::uint16_t, std::int32_t>> &changes);

    std::vector<std::unique_ptr<Keyboard>> keyboards_;
    std::set<std::string> refused_; // reported once each; tried again on every rescan
    std::set<std::string> ignored_; // not keyboards, until their node goes away
    QFileSystemWatcher *watcher_ = nullptr;
    bool exclusive_ = false;
    std::array<std::uint8_t, 0x300> down_{}; // keyboards holding each key code
};

} // namespace controllerd
