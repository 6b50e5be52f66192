#include "UITableViewCell.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

UITableViewCell::UITableViewCell(UITableViewCellStyle, const QString &reuseIdentifier)
    : reuseIdentifier_(reuseIdentifier), textLabel_(new QLabel), layout_(new QHBoxLayout(this)) {
    setMinimumHeight(44);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    platform::makeKeyboardRow(this);
    layout_->setContentsMargins(15, 0, 15, 0);
    layout_->setSpacing(8);
    textLabel_->setTextFormat(Qt::PlainText);
    QFont text = font();
    text.setPixelSize(15);
    textLabel_->setFont(text);
    layout_->addWidget(textLabel_, 1);
}

void UITableViewCell::setAccessoryView(QWidget *view) {
    if (view == accessoryView_)
        return;
    delete accessoryView_;
    accessoryView_ = view;
    if (view != nullptr)
        layout_->addWidget(view, 0, Qt::AlignVCenter);
}

void UITableViewCell::setSelected(bool selected, bool) {
    if (selected_ == selected)
        return;
    selected_ = selected;
    update();
}

void UITableViewCell::mousePressEvent(QMouseEvent *event) {
    if (event->button() == Qt::LeftButton) {
        pressed_ = true;
        update();
    }
}

void UITableViewCell::mouseReleaseEvent(QMouseEvent *event) {
    const bool tap = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    update();
    if (tap)
        emit tapped();
}

void UITableViewCell::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), selected_ || pressed_ ? QColor(0xd9, 0xd9, 0xd9) : QColor(Qt::white));
    painter.setPen(QColor(0xc8, 0xc7, 0xcc));
    painter.drawLine(15, height() - 1, width(), height() - 1);
    if (platform::showsFocus(this))
        platform::drawFocusRing(painter, rect());
}

void UITableViewCell::keyPressEvent(QKeyEvent *event) {
    if (!keyboard_.keyPressed(event))
        QWidget::keyPressEvent(event);
}

void UITableViewCell::keyReleaseEvent(QKeyEvent *event) {
    if (!keyboard_.keyReleased(event, this, [this] { emit tapped(); }))
        QWidget::keyReleaseEvent(event);
}

void UITableViewCell::focusInEvent(QFocusEvent *event) {
    QWidget::focusInEvent(event);
    update();
}

void UITableViewCell::focusOutEvent(QFocusEvent *event) {
    keyboard_.reset();
    QWidget::focusOutEvent(event);
    update();
}
