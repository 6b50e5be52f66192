#include "UISwitch.h"

#include <QPainter>

UISwitch::UISwitch(QWidget *parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    // The row around the switch is what Tab reaches and what shows the keyboard's ring.
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

void UISwitch::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(isChecked() ? Qt::NoPen : QPen(QColor(0xe5, 0xe5, 0xea), 1.5));
    QColor on(0x4c, 0xd9, 0x64);
    painter.setBrush(isChecked() ? (isEnabled() ? on : on.lighter(140)) : QColor(Qt::white));
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - knob - 2 : track.left() + 2;
    painter.setPen(QPen(QColor(0, 0, 0, 40), 1));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}
