#include "UINavigationController.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

UINavigationController::UINavigationController(UIViewController *root, QObject *parent)
    : UIViewController(parent) {
    if (root != nullptr)
        pushViewController(root, false);
}

void UINavigationController::loadView() {
    auto *view = new QWidget;
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
    backButton_->setStyleSheet("QPushButton { color: #007aff; border: none; font-size: 15px; }");
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
    if (!stack_.isEmpty())
        pages_->setCurrentWidget(stack_.last()->view());
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
        pages_->setCurrentWidget(controller->view());
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
        pages_->setCurrentWidget(showing->view());
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
