#include "UIKeyboardFocus.h"

#include <QKeyEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace platform {

namespace {
bool activates(const QKeyEvent *event) {
    const int key = event->key();
    return (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter) &&
           (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}
} // namespace

void makeKeyboardRow(QWidget *row) {
    row->setFocusPolicy(Qt::TabFocus);
}

void drawFocusRing(QPainter &painter, const QRect &area) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x00, 0x7a, 0xff), 3));
    painter.drawRoundedRect(QRectF(area).adjusted(2.5, 2.5, -2.5, -2.5), 6, 6);
    painter.restore();
}

bool showsFocus(const QWidget *widget) {
    return widget != nullptr && widget->isVisible() && widget->isEnabled() &&
           widget->window()->focusWidget() == widget;
}

bool KeyboardActivation::keyPressed(QKeyEvent *event) {
    if (!activates(event))
        return false;
    if (!event->isAutoRepeat())
        key_ = event->key();
    event->accept();
    return true;
}

bool KeyboardActivation::keyReleased(QKeyEvent *event, QObject *context,
                                     std::function<void()> action) {
    if (!activates(event))
        return false;
    event->accept();
    if (event->isAutoRepeat() || event->key() != key_)
        return true;
    key_ = 0;
    QTimer::singleShot(0, context, std::move(action));
    return true;
}

} // namespace platform
