#include "UIViewController.h"

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
