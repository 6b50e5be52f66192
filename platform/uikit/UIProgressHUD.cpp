#include "UIProgressHUD.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

UIProgressHUD::UIProgressHUD() : label_(new QLabel) {
    setAttribute(Qt::WA_TransparentForMouseEvents, false);
    setFocusPolicy(Qt::StrongFocus);
    label_->setAlignment(Qt::AlignCenter);
    label_->setWordWrap(true);
    label_->setStyleSheet("color: white; font-size: 14px;");
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 64, 16, 16);
    layout->addWidget(label_);
    QWidget::hide();
}

void UIProgressHUD::setText(const QString &text) {
    text_ = text;
    label_->setText(text);
    place();
}

void UIProgressHUD::showInView(QWidget *view) {
    if (view == nullptr)
        return;
    if (host_ != view) {
        if (host_)
            host_->removeEventFilter(this);
        host_ = view;
        setParent(view);
        view->installEventFilter(this);
    }
    showing_ = true;
    if (timer_ == 0)
        timer_ = startTimer(100);
    place();
    QWidget::show();
    raise();
    if (QWidget *focus = view->window()->focusWidget(); focus != this)
        focusBefore_ = focus;
    setFocus(Qt::OtherFocusReason);
}

void UIProgressHUD::hide() {
    // The keyboard goes back where it was, not to the next row of the page.
    const bool hadFocus = host_ && host_->window()->focusWidget() == this;
    showing_ = false;
    if (timer_ != 0) {
        killTimer(timer_);
        timer_ = 0;
    }
    QWidget::hide();
    if (hadFocus && focusBefore_ != nullptr && focusBefore_->isVisible())
        focusBefore_->setFocus(Qt::OtherFocusReason);
    else if (hadFocus)
        host_->window()->setFocus(Qt::OtherFocusReason);
}

bool UIProgressHUD::event(QEvent *event) {
    // Every key is this one's while it is up, the window's own keys (Alt+Left) included.
    if (event->type() == QEvent::ShortcutOverride && showing_) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void UIProgressHUD::keyPressEvent(QKeyEvent *event) {
    if (showing_ && event->key() == Qt::Key_Escape && !event->isAutoRepeat())
        emit cancelRequested();
    // Nothing else reaches the page while the work runs.
    event->accept();
}

void UIProgressHUD::keyReleaseEvent(QKeyEvent *event) {
    event->accept();
}

bool UIProgressHUD::focusNextPrevChild(bool next) {
    return showing_ || QWidget::focusNextPrevChild(next);
}

void UIProgressHUD::place() {
    if (!host_)
        return;
    const int width = qMin(260, host_->width() - 40);
    const int height = qMax(140, label_->heightForWidth(width - 32) + 84);
    setGeometry((host_->width() - width) / 2, (host_->height() - height) / 2, width, height);
}

bool UIProgressHUD::eventFilter(QObject *watched, QEvent *event) {
    if (watched == host_ && event->type() == QEvent::Resize)
        place();
    return false;
}

void UIProgressHUD::timerEvent(QTimerEvent *) {
    spinnerStep_ = (spinnerStep_ + 1) % 12;
    update();
}

void UIProgressHUD::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    // Opaque: the page's text must not show through the message.
    painter.setBrush(QColor(0x2b, 0x2b, 0x2b));
    painter.drawRoundedRect(rect(), 10, 10);
    painter.translate(width() / 2.0, 38);
    for (int i = 0; i < 12; ++i) {
        const int age = (spinnerStep_ - i + 12) % 12;
        painter.setBrush(QColor(255, 255, 255, 255 - age * 18));
        painter.drawRoundedRect(QRectF(-1.5, -14, 3, 8), 1.5, 1.5);
        painter.rotate(30);
    }
}
