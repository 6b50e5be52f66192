#pragma once

#include <QObject>
#include <memory>
#include <string>

namespace controllerd {

class KeyboardGamepad;
class KeyboardKeymap;
class KeyboardReader;
class UinputGamepad;

// The controller of type 6: the desktop's keyboards drive a virtual gamepad through the
// keymap. While it runs, keys outside the keymap go on typing (nothing is grabbed unless asked).
class KeyboardController : public QObject {
    Q_OBJECT
public:
    explicit KeyboardController(QObject *parent = nullptr);
    ~KeyboardController() override;

    // Makes the gamepad and opens the keyboards. False, with one line a user can act on in
    // `error`, when either cannot be done (then nothing is left made); true with `error` set
    // when some keyboards were refused.
    bool start(std::string &error);
    // Every control back at rest, the keyboards closed, the gamepad removed.
    void stop();
    bool running() const { return pad_ != nullptr; }

    // Grabbed, the keyboards type nothing anywhere else while they play (off by default).
    void setExclusive(bool exclusive) { exclusive_ = exclusive; }

    // Played from the next key on, also while stopped.
    void setKeymap(const KeyboardKeymap &keymap);
    std::string gamepadNode() const;
    std::vector<std::string> keyboards() const;

signals:
    // A keyboard plugged in later that cannot be read.
    void problem(const QString &message);

private:
    bool exclusive_ = false;
    std::unique_ptr<KeyboardKeymap> keymap_;
    std::unique_ptr<UinputGamepad> device_;
    std::unique_ptr<KeyboardGamepad> pad_;
    std::unique_ptr<KeyboardReader> reader_;
};

} // namespace controllerd
