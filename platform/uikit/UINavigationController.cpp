#include "UINavigationController.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Escape, or Alt+Left as in a browser, goes back a screen when nothing nearer the focus took the
// key (an alert, the progress overlay and a control all see it first).
class NavigationView : public QWidget {
public:
    explicit NavigationView(std::function<void()> back) : back_(std::move(back)) {}

protected:
    void keyPressEvent(QKeyEvent *event) override {
        if (event->key() == Qt::Key_Escape &&
            (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            back_();
            return;
        }
        QWidget::keyPressEvent(event);
    }

    // Alt+Left is taken before the key press itself, which a page's scrolling list would
    // otherwise use up. An alert or the progress overlay takes it first when one is up.
    bool event(QEvent *event) override {
        if (event->type() == QEvent::ShortcutOverride) {
            auto *key = static_cast<QKeyEvent *>(event);
            if (key->key() == Qt::Key_Left &&
                (key->modifiers() & ~Qt::KeypadModifier) == Qt::AltModifier) {
                key->accept();
                if (!key->isAutoRepeat())
                    back_();
                return true;
            }
        }
        return QWidget::event(event);
    }

    // Tab goes down the screen as the rows are shown, not in the order they were made (a page
    // makes new rows as its settings change).
    bool focusNextPrevChild(bool next) override {
        QList<QWidget *> stops;
        for (QWidget *w : findChildren<QWidget *>())
            if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(this) && w->isEnabled())
                stops.append(w);
        if (stops.isEmpty())
            return false;
        auto place = [this](QWidget *w) { return w->mapTo(this, QPoint(0, 0)); };
        std::stable_sort(stops.begin(), stops.end(), [&](QWidget *a, QWidget *b) {
            const QPoint pa = place(a), pb = place(b);
            return pa.y() != pb.y() ? pa.y() < pb.y() : pa.x() < pb.x();
        });
        const qsizetype at = stops.indexOf(focusWidget());
        const qsizetype count = stops.size();
        const qsizetype to =
            at < 0 ? (next ? 0 : count - 1) : (at + (next ? 1 : count - 1)) % count;
        stops[to]->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }

private:
    std::function<void()> back_;
};

} // namespace

UINavigationController::UINavigationController(UIViewController *root, QObject *parent)
    : UIViewController(parent) {
    if (root != nullptr)
        pushViewController(root, false);
}

void UINavigationController::loadView() {
    auto *view = new NavigationView([this] {
        // A screen presented over the stack is in the way: the key is not for the stack.
        if (presentedViewController() == nullptr &&
            (topViewController() == nullptr || !topViewController()->presentedViewController()))
            popViewControllerAnimated(true);
    });
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto *bar = new QWidget;
    bar->setObjectName("navigationBar");
    bar->setFixedHeight(44);
    bar->setStyleSheet("#navigationBar { background: #f7f7f7; border-bottom: 1px solid #c8c7cc; }");
    auto *barLayout = new QHBoxLayout(bar);
    barLayout->setContentsMargins(8, 0, 8, 0);
    backButton_ = new QPushButton;
    backButton_->setFlat(true);
    // As on the device, keys go to the screens: Space or Return must not go back.
    backButton_->setFocusPolicy(Qt::NoFocus);
    // Left-aligned: a centred text would wander right as the window widens.
    backButton_->setStyleSheet(
        "QPushButton { color: #007aff; border: none; font-size: 15px; text-align: left; }");
    connect(backButton_, &QPushButton::clicked, this, [this] { popViewControllerAnimated(true); });
    QSizePolicy keepPlace = backButton_->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true); // the title stays centred on the root screen
    backButton_->setSizePolicy(keepPlace);
    titleLabel_ = new QLabel;
    titleLabel_->setAlignment(Qt::AlignCenter);
    titleLabel_->setStyleSheet("font-size: 16px; font-weight: bold; color: black;");
    auto *right = new QWidget;
    barLayout->addWidget(backButton_, 1);
    barLayout->addWidget(titleLabel_, 2);
    barLayout->addWidget(right, 1);

    pages_ = new QStackedWidget;
    layout->addWidget(bar);
    layout->addWidget(pages_, 1);
    setView(view);
    for (UIViewController *controller : stack_)
        pages_->addWidget(controller->view());
    if (!stack_.isEmpty()) {
        pages_->setCurrentWidget(stack_.last()->view());
        // The keyboard starts on the page, not on its first row: no ring before the first Tab.
        stack_.last()->view()->setFocus(Qt::OtherFocusReason);
    }
    updateBar();
}

void UINavigationController::pushViewController(UIViewController *controller, bool animated) {
    if (controller == nullptr || stack_.contains(controller))
        return;
    UIViewController *previous = topViewController();
    controller->setParent(this);
    controller->navigationController_ = this;
    connect(controller, &UIViewController::titleChanged, this, &UINavigationController::updateBar);
    if (onScreen_ && previous != nullptr)
        previous->viewWillDisappear(animated);
    stack_.append(controller);
    if (isViewLoaded())
        pages_->addWidget(controller->view());
    if (onScreen_)
        controller->viewWillAppear(animated);
    if (isViewLoaded())
        showPage(previous, controller);
    updateBar();
    if (onScreen_) {
        if (previous != nullptr)
            previous->viewDidDisappear(animated);
        controller->viewDidAppear(animated);
    }
}

UIViewController *UINavigationController::popViewControllerAnimated(bool animated) {
    if (stack_.size() < 2)
        return nullptr;
    UIViewController *leaving = stack_.takeLast();
    UIViewController *showing = stack_.last();
    if (onScreen_) {
        leaving->viewWillDisappear(animated);
        showing->viewWillAppear(animated);
    }
    if (isViewLoaded()) {
        showPage(leaving, showing);
        pages_->removeWidget(leaving->view());
    }
    updateBar();
    if (onScreen_) {
        leaving->viewDidDisappear(animated);
        showing->viewDidAppear(animated);
    }
    leaving->navigationController_ = nullptr;
    leaving->deleteLater();
    return leaving;
}

void UINavigationController::showPage(UIViewController *hiding, UIViewController *showing) {
    QWidget *window = view()->window();
    if (hiding != nullptr && hiding->isViewLoaded() &&
        hiding->view()->isAncestorOf(window->focusWidget()))
        hiding->keyboardFocus_ = window->focusWidget();
    pages_->setCurrentWidget(showing->view());
    // A hidden page must not keep the keyboard: with no active window nothing else moves it.
    QWidget *focus = showing->keyboardFocus_;
    if (focus == nullptr || !focus->isVisibleTo(window))
        focus = showing->view();
    focus->setFocus(Qt::OtherFocusReason);
}

void UINavigationController::updateBar() {
    if (!isViewLoaded())
        return;
    UIViewController *top = topViewController();
    titleLabel_->setText(top != nullptr ? top->title() : QString());
    const bool canGoBack = stack_.size() > 1;
    backButton_->setVisible(canGoBack);
    if (canGoBack) {
        const QString previous = stack_[stack_.size() - 2]->title();
        backButton_->setText(QString::fromUtf8("\u2039 ") +
                             (previous.isEmpty() ? QStringLiteral("Back") : previous));
    }
}

void UINavigationController::viewWillAppear(bool animated) {
    if (UIViewController *top = topViewController())
        top->viewWillAppear(animated);
}

void UINavigationController::viewDidAppear(bool animated) {
    onScreen_ = true;
    if (UIViewController *top = topViewController())
        top->viewDidAppear(animated);
}

void UINavigationController::viewWillDisappear(bool animated) {
    if (UIViewController *top = topViewController())
        top->viewWillDisappear(animated);
}

void UINavigationController::viewDidDisappear(bool animated) {
    onScreen_ = false;
    if (UIViewController *top = topViewController())
        top->viewDidDisappear(animated);
}
