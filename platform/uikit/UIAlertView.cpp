#include "UIAlertView.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
QList<UIAlertView *> &shown() {
    static QList<UIAlertView *> alerts;
    return alerts;
}
} // namespace

UIAlertView::UIAlertView(const QString &title, const QString &message,
                         UIAlertViewDelegate *delegate, const QString &cancelButtonTitle)
    : QDialog(QApplication::activeWindow()), title_(title), message_(message),
      cancelButtonTitle_(cancelButtonTitle), delegate_(delegate) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title);
    setStyleSheet("UIAlertView { background: #f2f2f2; }");
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 18, 16, 8);
    auto *titleLabel = new QLabel(title);
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setStyleSheet("font-size: 16px; font-weight: bold;");
    auto *messageLabel = new QLabel(message);
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setWordWrap(true);
    messageLabel->setStyleSheet("font-size: 13px;");
    auto *button = new QPushButton(cancelButtonTitle);
    button->setFlat(true);
    button->setStyleSheet("QPushButton { color: #007aff; font-size: 16px; padding: 8px; }");
    connect(button, &QPushButton::clicked, this,
            [this] { dismissWithClickedButtonIndex(0, true); });
    layout->addWidget(titleLabel);
    layout->addWidget(messageLabel);
    layout->addSpacing(8);
    layout->addWidget(button);
    // A window does not ask its layout for the height that fits a wrapped message; give it one.
    setFixedSize(270, heightForWidth(270));
}

UIAlertView::~UIAlertView() {
    shown().removeAll(this);
}

void UIAlertView::show() {
    if (visible_)
        return;
    visible_ = true;
    shown().append(this);
    // Never modal to the event loop: the page stays live under the alert, as on the device.
    QDialog::open();
}

void UIAlertView::dismissWithClickedButtonIndex(int buttonIndex, bool) {
    if (!visible_)
        return;
    visible_ = false;
    shown().removeAll(this);
    if (delegate_ != nullptr)
        delegate_->alertViewDidDismissWithButtonIndex(this, buttonIndex);
    close();
}

QList<UIAlertView *> UIAlertView::visibleAlerts() {
    return shown();
}
