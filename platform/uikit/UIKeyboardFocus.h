#pragma once

#include <QRect>
#include <functional>

class QKeyEvent;
class QObject;
class QPainter;
class QWidget;

// What a row needs to be worked from the keyboard on a desktop: Tab reaches it, a ring shows
// where the keyboard is, and Space or Return acts as a tap.
namespace platform {

// Tab reaches the row; a click does not move the keyboard there.
void makeKeyboardRow(QWidget *row);

// The ring around `area` of a widget that has the keyboard.
void drawFocusRing(QPainter &painter, const QRect &area);

// True when `widget` is where its window's keys go (the window need not be the active one: with
// no window manager, X sends keys to the window under the pointer).
bool showsFocus(const QWidget *widget);

// Space or Return, pressed and released on the row, runs the action once the release has gone
// through the whole application: whoever takes keys after the widgets (the keymap editor binds
// every key it sees) must not find the row's action already done.
class KeyboardActivation {
public:
    // True when the event is the row's (it is accepted then).
    bool keyPressed(QKeyEvent *event);
    bool keyReleased(QKeyEvent *event, QObject *context, std::function<void()> action);
    void reset() { key_ = 0; }

private:
    int key_ = 0;
};

} // namespace platform
