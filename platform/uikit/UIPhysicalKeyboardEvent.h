#pragma once

#include <cstdint>

class QKeyEvent;
class QObject;

// A hardware-keyboard event as the application hands it to handleKeyUIEvent: a press or a
// release of the key with the given USB HID usage ID. It also carries the toolkit's event and
// the window it came to, for the application's own handling of it.
class UIPhysicalKeyboardEvent {
public:
    UIPhysicalKeyboardEvent(std::int64_t keyCode, bool keyDown, QObject *window = nullptr,
                            QKeyEvent *keyEvent = nullptr)
        : keyCode_(keyCode), keyDown_(keyDown), window_(window), keyEvent_(keyEvent) {}

    std::int64_t _keyCode() const { return keyCode_; }
    bool _isKeyDown() const { return keyDown_; }

    QObject *window() const { return window_; }
    QKeyEvent *keyEvent() const { return keyEvent_; }
    // What the toolkit's delivery of the event answered.
    bool isHandled() const { return handled_; }
    void setHandled(bool handled) { handled_ = handled; }

private:
    std::int64_t keyCode_;
    bool keyDown_;
    QObject *window_;
    QKeyEvent *keyEvent_;
    bool handled_ = false;
};
