#include "PSTableCell.h"
#include "UIElidingLabel.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

PSTableCell::PSTableCell(int style, const QString &reuseIdentifier, PSSpecifier *specifier)
    : type_(specifier != nullptr ? specifier->cellType() : style),
      reuseIdentifier_(reuseIdentifier), textLabel_(new QLabel),
      detailTextLabel_(new UIElidingLabel), accessory_(new QLabel), layout_(new QHBoxLayout(this)) {
    if (specifier != nullptr)
        specifier_ = specifier->weak_from_this();
    setMinimumHeight(44);
    platform::makeKeyboardRow(this);
    layout_->setContentsMargins(15, 0, 15, 0);
    layout_->setSpacing(8);
    textLabel_->setTextFormat(Qt::PlainText);
    detailTextLabel_->setTextFormat(Qt::PlainText);
    // Fonts and palettes rather than style sheets: a page rebuilds all its cells on each reload.
    QFont text = font();
    text.setPixelSize(15);
    textLabel_->setFont(text);
    detailTextLabel_->setFont(text);
    setColor(detailTextLabel_, QColor(0x8e, 0x8e, 0x93));
    QFont mark = font();
    mark.setPixelSize(20);
    accessory_->setFont(mark);
    layout_->addWidget(textLabel_, 1);
    layout_->addWidget(detailTextLabel_);
    layout_->addWidget(accessory_);
    refreshCellContentsWithSpecifier(specifier);
}

void PSTableCell::setColor(QLabel *label, const QColor &color) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, color.lighter(160));
    label->setPalette(palette);
}

void PSTableCell::refreshCellContentsWithSpecifier(PSSpecifier *specifier) {
    if (specifier == nullptr)
        return;
    textLabel_->setText(specifier->name());
    applyStyle();
}

void PSTableCell::applyStyle() {
    const QColor tint(0x00, 0x7a, 0xff);
    setColor(textLabel_, type_ == PSButtonCell ? tint : QColor(Qt::black));
    const bool link = type_ == PSLinkListCell || type_ == PSLinkCell;
    accessory_->setText(link       ? QString::fromUtf8("\u203a")
                        : checked_ ? QString::fromUtf8("\u2713")
                                   : QString());
    setColor(accessory_, checked_ ? tint : QColor(0xc7, 0xc7, 0xcc));
    accessory_->setVisible(accessoryView_.isNull() && !accessory_->text().isEmpty());
    detailTextLabel_->setVisible(!detailTextLabel_->text().isEmpty());
}

void PSTableCell::setValue(const QVariant &value) {
    value_ = value;
    PSSpecifier *owner = specifier();
    if (owner != nullptr && type_ == PSLinkListCell)
        detailTextLabel_->setText(owner->titleForValue(value));
    else if (type_ == PSTitleValueCell)
        detailTextLabel_->setText(value.toString());
    applyStyle();
}

void PSTableCell::setAccessoryView(QWidget *view) {
    if (view == accessoryView_)
        return;
    delete accessoryView_.data();
    accessoryView_ = view;
    if (view != nullptr)
        layout_->addWidget(view, 0, Qt::AlignVCenter);
    applyStyle();
}

void PSTableCell::setUserInteractionEnabled(bool enabled) {
    interactive_ = enabled;
    pressed_ = false;
    update();
}

void PSTableCell::setChecked(bool checked) {
    checked_ = checked;
    applyStyle();
}

void PSTableCell::mousePressEvent(QMouseEvent *event) {
    if (interactive_ && event->button() == Qt::LeftButton) {
        pressed_ = true;
        update();
    }
}

void PSTableCell::mouseReleaseEvent(QMouseEvent *event) {
    const bool tap = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    update();
    if (tap && interactive_)
        emit tapped(this);
}

void PSTableCell::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.fillRect(rect(), pressed_ ? QColor(0xd9, 0xd9, 0xd9) : QColor(Qt::white));
    painter.setPen(QColor(0xc8, 0xc7, 0xcc));
    painter.drawLine(15, height() - 1, width(), height() - 1);
    if (platform::showsFocus(this))
        platform::drawFocusRing(painter, rect());
}

void PSTableCell::keyPressEvent(QKeyEvent *event) {
    if (!keyboard_.keyPressed(event))
        QWidget::keyPressEvent(event);
}

void PSTableCell::keyReleaseEvent(QKeyEvent *event) {
    // A row with a switch flips it, as a click on the switch does; any other row is tapped.
    const bool taken = keyboard_.keyReleased(event, this, [this] {
        auto *control = findChild<QAbstractButton *>();
        if (control != nullptr && control->isCheckable())
            control->click();
        else if (interactive_)
            emit tapped(this);
    });
    if (!taken)
        QWidget::keyReleaseEvent(event);
}

void PSTableCell::focusInEvent(QFocusEvent *event) {
    QWidget::focusInEvent(event);
    update();
}

void PSTableCell::focusOutEvent(QFocusEvent *event) {
    keyboard_.reset();
    QWidget::focusOutEvent(event);
    update();
}
