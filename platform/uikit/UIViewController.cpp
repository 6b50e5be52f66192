#include "UIViewController.h"

#include "UINavigationController.h"

#include <QEvent>

UIViewController::UIViewController(QObject *parent) : QObject(parent) {}

UIViewController::~UIViewController() {
    delete view_.data();
}

QWidget *UIViewController::view() {
    if (view_.isNull()) {
        loadView();
        if (view_.isNull())
            setView(new QWidget);
        viewDidLoad();
    }
    return view_.data();
}

void UIViewController::loadView() {
    setView(new QWidget);
}

void UIViewController::setView(QWidget *view) {
    view_ = view;
}

void UIViewController::setTitle(const QString &title) {
    if (title_ == title)
        return;
    title_ = title;
    emit titleChanged(title_);
}

namespace {

// Keeps a presented view over the whole of the presenting one as it resizes.
class CoverFilter : public QObject {
public:
    CoverFilter(QWidget *host, QWidget *cover) : QObject(cover), cover_(cover) {
        host->installEventFilter(this);
        cover->setGeometry(host->rect());
    }
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Resize)
            cover_->setGeometry(static_cast<QWidget *>(watched)->rect());
        return false;
    }

private:
    QWidget *cover_;
};

} // namespace

void UIViewController::presentViewController(UIViewController *controller, bool,
                                             std::function<void()> completion) {
    if (controller == nullptr || presented_ || controller == this)
        return;
    controller->setParent(this);
    presented_ = controller;
    controller->presenting_ = this;
    QWidget *host = view();
    QWidget *cover = controller->view();
    cover->setParent(host);
    new CoverFilter(host, cover);
    controller->viewWillAppear(false);
    cover->show();
    cover->raise();
    controller->viewDidAppear(false);
    if (completion)
        completion();
}

void UIViewController::dismissViewControllerAnimated(bool animated,
                                                     std::function<void()> completion) {
    if (!presented_) {
        if (presenting_)
            presenting_->dismissViewControllerAnimated(animated, std::move(completion));
        else if (navigationController_ != nullptr &&
                 navigationController_->presentedViewController())
            navigationController_->dismissViewControllerAnimated(animated, std::move(completion));
        return;
    }
    UIViewController *leaving = presented_.data();
    presented_ = nullptr;
    leaving->viewWillDisappear(false);
    if (leaving->isViewLoaded())
        leaving->view()->hide();
    leaving->viewDidDisappear(false);
    leaving->presenting_ = nullptr;
    leaving->deleteLater();
    if (completion)
        completion();
}
