#include "UIAlertView.h"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

const char *const kDimmingName = "UIAlertDimming";

QList<UIAlertView *> &shown() {
    static QList<UIAlertView *> alerts;
    return alerts;
}

// The application's window: the active one, or else the first one on screen.
QWidget *applicationWindow() {
    QWidget *active = QApplication::activeWindow();
    if (active != nullptr && qobject_cast<UIAlertView *>(active) == nullptr)
        return active;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget->isVisible() && qobject_cast<UIAlertView *>(widget) == nullptr &&
            (widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog))
            return widget;
    return nullptr;
}

} // namespace

UIAlertView::UIAlertView(const QString &title, const QString &message,
                         UIAlertViewDelegate *delegate, const QString &cancelButtonTitle)
    : title_(title), message_(message), cancelButtonTitle_(cancelButtonTitle), delegate_(delegate) {
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_StyledBackground);
    setWindowTitle(title);
    setStyleSheet("UIAlertView { background: #f2f2f2; border-radius: 12px; }");
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 18, 16, 8);
    auto *titleLabel = new QLabel(title);
    titleLabel->setAlignment(Qt::AlignCenter);
    titleLabel->setWordWrap(true); // a long title gets lines, not cut ends
    titleLabel->setStyleSheet("font-size: 16px; font-weight: bold;");
    auto *messageLabel = new QLabel(message);
    messageLabel->setAlignment(Qt::AlignCenter);
    messageLabel->setWordWrap(true);
    messageLabel->setStyleSheet("font-size: 13px;");
    auto *button = new QPushButton(cancelButtonTitle);
    button->setFlat(true);
    button->setStyleSheet(
        "QPushButton { color: #007aff; font-size: 16px; padding: 8px; }"
        "QPushButton:focus { border: 2px solid #007aff; border-radius: 6px; outline: none; }");
    connect(button, &QPushButton::clicked, this,
            [this] { dismissWithClickedButtonIndex(0, true); });
    layout->addWidget(titleLabel);
    layout->addWidget(messageLabel);
    layout->addSpacing(8);
    layout->addWidget(button);
    // A widget does not ask its layout for the height that fits a wrapped message; give it one.
    setFixedSize(270, heightForWidth(270));
}

UIAlertView::~UIAlertView() {
    shown().removeAll(this);
    if (covered_ != nullptr) {
        covered_->removeEventFilter(this);
        // Hidden first, so that the dimming counts this alert as gone.
        visible_ = false;
        hide();
        updateDimming(covered_);
    }
}

void UIAlertView::show() {
    if (visible_)
        return;
    visible_ = true;
    shown().append(this);
    QWidget *window = applicationWindow();
    if (window == nullptr) {
        // Nothing to cover: a window of its own, in the middle of the screen.
        setWindowFlags(Qt::Dialog);
        if (QScreen *screen = QApplication::primaryScreen())
            move(screen->geometry().center() - rect().center());
        QWidget::show();
        return;
    }
    covered_ = window;
    setParent(window); // a child of the window now, no longer a window
    window->installEventFilter(this);
    // The window takes its alerts with it. They leave the screen unanswered (no button was
    // pressed), and let go of the window first: it is half gone by the time they are deleted.
    connect(window, &QObject::destroyed, this, [this] {
        visible_ = false;
        shown().removeAll(this);
        covered_ = nullptr;
    });
    updateDimming(window);
    placeOver(window);
    QWidget::show();
    raise();
    static const bool watching = [] {
        QObject::connect(qApp, &QApplication::focusChanged, qApp,
                         [](QWidget *, QWidget *now) { holdFocus(now); });
        return true;
    }();
    (void)watching;
    focusBefore_ = window->focusWidget();
    if (auto *button = findChild<QPushButton *>())
        button->setFocus(); // keys go to the alert, not to the page under it
}

bool UIAlertView::event(QEvent *event) {
    // Every key is this one's while it is up, the window's own keys (Alt+Left) included.
    if (event->type() == QEvent::ShortcutOverride && visible_) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void UIAlertView::keyPressEvent(QKeyEvent *event) {
    // The alert holds the keyboard while it is up: its one button is both the default and the
    // cancel button, and no key reaches the page under it.
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!event->isAutoRepeat())
            dismissWithClickedButtonIndex(0, true);
        break;
    default:
        break;
    }
    event->accept();
}

void UIAlertView::keyReleaseEvent(QKeyEvent *event) {
    event->accept();
}

bool UIAlertView::focusNextPrevChild(bool next) {
    if (!visible_)
        return QWidget::focusNextPrevChild(next);
    // Tab stays inside: the button is the one place to go.
    if (auto *button = findChild<QPushButton *>())
        button->setFocus(Qt::TabFocusReason);
    return true;
}

void UIAlertView::holdFocus(QWidget *now) {
    // Whatever moves the focus into the page under an alert, the newest alert over that window
    // takes it back.
    if (now == nullptr || qobject_cast<UIAlertView *>(now->window()) != nullptr)
        return;
    UIAlertView *top = nullptr;
    for (UIAlertView *alert : shown())
        if (alert->covered_ == now->window())
            top = alert;
    if (top != nullptr && !top->isAncestorOf(now))
        if (auto *button = top->findChild<QPushButton *>())
            button->setFocus(Qt::OtherFocusReason);
}

void UIAlertView::placeOver(QWidget *window) {
    move((window->width() - width()) / 2, (window->height() - height()) / 2);
}

void UIAlertView::updateDimming(QWidget *window) {
    auto *dimming = window->findChild<QWidget *>(kDimmingName, Qt::FindDirectChildrenOnly);
    bool covered = false;
    for (UIAlertView *alert : shown())
        covered = covered || alert->covered_ == window;
    if (!covered) {
        if (dimming != nullptr)
            dimming->hide();
        return;
    }
    if (dimming == nullptr) {
        // Takes the touches meant for the page under it: they go to the window, not the page.
        dimming = new QWidget(window);
        dimming->setObjectName(kDimmingName);
        dimming->setAttribute(Qt::WA_StyledBackground);
        dimming->setStyleSheet(QString("#%1 { background: rgba(0, 0, 0, 90); }").arg(kDimmingName));
    }
    dimming->setGeometry(window->rect());
    dimming->show();
    dimming->raise();
    for (UIAlertView *alert : shown())
        if (alert->covered_ == window)
            alert->raise(); // oldest first, so the newest ends on top
}

bool UIAlertView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == covered_ && event->type() == QEvent::Resize) {
        updateDimming(covered_);
        placeOver(covered_);
    }
    return QWidget::eventFilter(watched, event);
}

void UIAlertView::dismissWithClickedButtonIndex(int buttonIndex, bool) {
    if (!visible_)
        return;
    visible_ = false;
    shown().removeAll(this);
    if (covered_ != nullptr) {
        updateDimming(covered_);
        // The keyboard goes back where it was (the alert under this one, or a row).
        if (focusBefore_ != nullptr && focusBefore_->isVisible())
            focusBefore_->setFocus(Qt::OtherFocusReason);
        else
            covered_->setFocus(Qt::OtherFocusReason);
        holdFocus(covered_->focusWidget());
    }
    if (delegate_ != nullptr)
        delegate_->alertViewDidDismissWithButtonIndex(this, buttonIndex);
    close();
}

QList<UIAlertView *> UIAlertView::visibleAlerts() {
    return shown();
}
