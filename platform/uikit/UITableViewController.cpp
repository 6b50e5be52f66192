#include "UITableViewController.h"

UITableViewController::UITableViewController(UITableViewStyle style, QObject *parent)
    : UIViewController(parent), style_(style) {}

UITableView *UITableViewController::tableView() {
    return static_cast<UITableView *>(view());
}

void UITableViewController::loadView() {
    auto *table = new UITableView(style_);
    table->setDataSource(this);
    table->setDelegate(this);
    setView(table);
}

void UITableViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    if (!loaded_) {
        loaded_ = true;
        tableView()->reloadData();
    }
}
