#pragma once

#include "NSIndexPath.h"
#include "UITableViewCell.h"

#include <QHash>
#include <QList>
#include <QScrollArea>
#include <functional>
#include <optional>

class QLabel;
class QVBoxLayout;
class UITableView;

enum UITableViewStyle {
    UITableViewStylePlain = 0,
    UITableViewStyleGrouped = 1,
};

// The platform's row animations keep their numbers; rows here change at once.
enum UITableViewRowAnimation {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationNone = 5,
    UITableViewRowAnimationAutomatic = 100,
};

// Where a table's rows come from.
class UITableViewDataSource {
public:
    virtual ~UITableViewDataSource() = default;
    virtual qsizetype numberOfSectionsInTableView(UITableView *) { return 1; }
    virtual qsizetype tableViewNumberOfRowsInSection(UITableView *tableView, qsizetype section) = 0;
    virtual QString tableViewTitleForHeaderInSection(UITableView *, qsizetype) { return {}; }
    virtual UITableViewCell *tableViewCellForRowAtIndexPath(UITableView *tableView,
                                                            const NSIndexPath &indexPath) = 0;
};

// Who hears of taps on a table's rows.
class UITableViewDelegate {
public:
    virtual ~UITableViewDelegate() = default;
    virtual void tableViewDidSelectRowAtIndexPath(UITableView *, const NSIndexPath &) {}
};

// A scrolling list of rows in sections, each section under its header; the grouped style
// shows each section's rows as one white block on the page's gray.
class UITableView : public QScrollArea {
    Q_OBJECT
public:
    explicit UITableView(UITableViewStyle style = UITableViewStylePlain);
    ~UITableView() override;

    UITableViewStyle style() const { return style_; }
    UITableViewDataSource *dataSource() const { return dataSource_; }
    void setDataSource(UITableViewDataSource *dataSource) { dataSource_ = dataSource; }
    UITableViewDelegate *delegate() const { return delegate_; }
    void setDelegate(UITableViewDelegate *delegate) { delegate_ = delegate; }

    // Cells for `identifier` are made as `Cell(UITableViewCellStyleDefault, identifier)`.
    template <class Cell> void registerClassForCellReuseIdentifier(const QString &identifier) {
        factories_.insert(identifier, [](const QString &reuseIdentifier) -> UITableViewCell * {
            return new Cell(UITableViewCellStyleDefault, reuseIdentifier);
        });
    }
    // A cell that left the table or the row being reloaded, else a new one of the registered
    // class; null when nothing is registered for `identifier`.
    UITableViewCell *dequeueReusableCellWithIdentifier(const QString &identifier,
                                                       const NSIndexPath &indexPath);

    void reloadData();
    void reloadRowsAtIndexPaths(const QList<NSIndexPath> &indexPaths,
                                UITableViewRowAnimation animation);

    qsizetype numberOfSections() const { return cells_.size(); }
    qsizetype numberOfRowsInSection(qsizetype section) const;
    // The cell showing the row, null when there is no such row.
    UITableViewCell *cellForRowAtIndexPath(const NSIndexPath &indexPath) const;
    std::optional<NSIndexPath> indexPathForCell(const UITableViewCell *cell) const;

    std::optional<NSIndexPath> indexPathForSelectedRow() const { return selected_; }
    void selectRowAtIndexPath(const NSIndexPath &indexPath, bool animated);
    void deselectRowAtIndexPath(const NSIndexPath &indexPath, bool animated);

private:
    using Factory = std::function<UITableViewCell *(const QString &)>;
    void cellTapped();
    UITableViewCell *cellFromDataSource(const NSIndexPath &indexPath);
    void recycle(UITableViewCell *cell);
    void clearRecycled();

    UITableViewStyle style_;
    UITableViewDataSource *dataSource_ = nullptr;
    UITableViewDelegate *delegate_ = nullptr;
    QHash<QString, Factory> factories_;
    QHash<QString, QList<UITableViewCell *>> recycled_;
    QList<QList<UITableViewCell *>> cells_;
    QList<QVBoxLayout *> sectionLayouts_;
    std::optional<NSIndexPath> selected_;
    QWidget *content_;
    QVBoxLayout *sections_;
};
