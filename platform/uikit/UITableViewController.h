#pragma once

#include "UITableView.h"
#include "UIViewController.h"

// A screen whose view is a table; it is the table's data source and delegate.
class UITableViewController : public UIViewController,
                              public UITableViewDataSource,
                              public UITableViewDelegate {
    Q_OBJECT
public:
    explicit UITableViewController(UITableViewStyle style = UITableViewStylePlain,
                                   QObject *parent = nullptr);

    // The table, made on first use together with the view.
    UITableView *tableView();

    qsizetype tableViewNumberOfRowsInSection(UITableView *, qsizetype) override { return 0; }
    UITableViewCell *tableViewCellForRowAtIndexPath(UITableView *, const NSIndexPath &) override {
        return nullptr;
    }

    // The table fills itself the first time it comes on screen.
    void viewWillAppear(bool animated) override;

protected:
    void loadView() override;

private:
    UITableViewStyle style_;
    bool loaded_ = false;
};
