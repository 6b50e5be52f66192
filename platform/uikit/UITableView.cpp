#include "UITableView.h"

#include "UITableViewCell.h"

#include <QLabel>
#include <QVBoxLayout>

UITableView::UITableView(UITableViewStyle style)
    : style_(style), content_(new QWidget), sections_(new QVBoxLayout) {
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus); // Tab goes to the rows, not to the list around them
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_->setObjectName("tableContent");
    content_->setStyleSheet(style == UITableViewStyleGrouped
                                ? "#tableContent { background: #efeff4; }"
                                : "#tableContent { background: white; }");
    auto *outer = new QVBoxLayout(content_);
    outer->setContentsMargins(0, 0, 0, style == UITableViewStyleGrouped ? 24 : 0);
    outer->setSpacing(0);
    sections_->setSpacing(0);
    outer->addLayout(sections_);
    outer->addStretch(1);
    setWidget(content_);
}

UITableView::~UITableView() = default;

qsizetype UITableView::numberOfRowsInSection(qsizetype section) const {
    return section >= 0 && section < cells_.size() ? cells_[section].size() : 0;
}

UITableViewCell *UITableView::cellForRowAtIndexPath(const NSIndexPath &indexPath) const {
    if (indexPath.row < 0 || indexPath.row >= numberOfRowsInSection(indexPath.section))
        return nullptr;
    return cells_[indexPath.section][indexPath.row];
}

std::optional<NSIndexPath> UITableView::indexPathForCell(const UITableViewCell *cell) const {
    for (qsizetype section = 0; section < cells_.size(); ++section)
        if (const qsizetype row = cells_[section].indexOf(cell); row >= 0)
            return NSIndexPath::indexPathForRow(row, section);
    return std::nullopt;
}

UITableViewCell *UITableView::dequeueReusableCellWithIdentifier(const QString &identifier,
                                                                const NSIndexPath &) {
    QList<UITableViewCell *> &spare = recycled_[identifier];
    if (!spare.isEmpty())
        return spare.takeLast();
    auto factory = factories_.find(identifier);
    return factory != factories_.end() ? (*factory)(identifier) : nullptr;
}

void UITableView::recycle(UITableViewCell *cell) {
    cell->setSelected(false, false);
    // Kept by the content, so that a section's block can go while its cells wait for reuse.
    cell->setParent(content_);
    cell->hide();
    recycled_[cell->reuseIdentifier()].append(cell);
}

void UITableView::clearRecycled() {
    // Later: the cell may be the one whose tap is being handled.
    for (const QList<UITableViewCell *> &spare : std::as_const(recycled_))
        for (UITableViewCell *cell : spare)
            cell->deleteLater();
    recycled_.clear();
}

UITableViewCell *UITableView::cellFromDataSource(const NSIndexPath &indexPath) {
    UITableViewCell *cell = dataSource_->tableViewCellForRowAtIndexPath(this, indexPath);
    if (cell == nullptr)
        cell = new UITableViewCell; // keeps the rows in step with the data source's count
    connect(cell, &UITableViewCell::tapped, this, &UITableView::cellTapped, Qt::UniqueConnection);
    cell->setSelected(false, false);
    return cell;
}

void UITableView::reloadData() {
    selected_.reset();
    for (const QList<UITableViewCell *> &section : std::as_const(cells_))
        for (UITableViewCell *cell : section)
            recycle(cell);
    cells_.clear();
    sectionLayouts_.clear();
    while (QLayoutItem *item = sections_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    if (dataSource_ == nullptr)
        return;
    content_->setUpdatesEnabled(false);
    const bool grouped = style_ == UITableViewStyleGrouped;
    const qsizetype sectionCount = dataSource_->numberOfSectionsInTableView(this);
    for (qsizetype section = 0; section < sectionCount; ++section) {
        const QString title = dataSource_->tableViewTitleForHeaderInSection(this, section);
        auto *header = new QLabel(grouped ? title.toUpper() : title);
        header->setTextFormat(Qt::PlainText);
        header->setWordWrap(true);
        header->setContentsMargins(15, grouped ? 22 : 4, 15, title.isEmpty() ? 0 : 6);
        QFont small = header->font();
        small.setPixelSize(grouped ? 12 : 14);
        header->setFont(small);
        QPalette palette = header->palette();
        palette.setColor(QPalette::WindowText, QColor(0x6d, 0x6d, 0x72));
        header->setPalette(palette);
        sections_->addWidget(header);

        auto *block = new QWidget;
        block->setObjectName("tableSection");
        block->setStyleSheet(grouped ? "#tableSection { background: white; border-top: 1px solid "
                                       "#c8c7cc; border-bottom: 1px solid #c8c7cc; }"
                                     : "#tableSection { background: white; }");
        auto *rows = new QVBoxLayout(block);
        rows->setContentsMargins(0, 0, 0, 0);
        rows->setSpacing(0);
        sections_->addWidget(block);
        sectionLayouts_.append(rows);
        cells_.append(QList<UITableViewCell *>());
        const qsizetype rowCount = dataSource_->tableViewNumberOfRowsInSection(this, section);
        for (qsizetype row = 0; row < rowCount; ++row) {
            UITableViewCell *cell = cellFromDataSource(NSIndexPath::indexPathForRow(row, section));
            cells_[section].append(cell);
            rows->addWidget(cell);
            cell->show();
        }
    }
    clearRecycled();
    content_->setUpdatesEnabled(true);
}

void UITableView::reloadRowsAtIndexPaths(const QList<NSIndexPath> &indexPaths,
                                         UITableViewRowAnimation) {
    if (dataSource_ == nullptr)
        return;
    for (const NSIndexPath &indexPath : indexPaths) {
        UITableViewCell *old = cellForRowAtIndexPath(indexPath);
        if (old == nullptr)
            continue;
        QVBoxLayout *rows = sectionLayouts_[indexPath.section];
        // The keyboard stays on the row: the new cell takes it from the one it replaces.
        const bool focused = old->window()->focusWidget() == old;
        const int position = rows->indexOf(old);
        rows->removeWidget(old);
        recycle(old);
        if (selected_ == indexPath)
            selected_.reset();
        UITableViewCell *cell = cellFromDataSource(indexPath);
        cells_[indexPath.section][indexPath.row] = cell;
        rows->insertWidget(position, cell);
        cell->show();
        if (focused)
            cell->setFocus(Qt::OtherFocusReason);
    }
    clearRecycled();
}

void UITableView::selectRowAtIndexPath(const NSIndexPath &indexPath, bool animated) {
    UITableViewCell *cell = cellForRowAtIndexPath(indexPath);
    if (cell == nullptr)
        return;
    if (selected_ && *selected_ != indexPath)
        deselectRowAtIndexPath(*selected_, animated);
    selected_ = indexPath;
    cell->setSelected(true, animated);
}

void UITableView::deselectRowAtIndexPath(const NSIndexPath &indexPath, bool animated) {
    if (UITableViewCell *cell = cellForRowAtIndexPath(indexPath))
        cell->setSelected(false, animated);
    if (selected_ == indexPath)
        selected_.reset();
}

void UITableView::cellTapped() {
    const auto indexPath = indexPathForCell(qobject_cast<UITableViewCell *>(sender()));
    if (!indexPath)
        return;
    selectRowAtIndexPath(*indexPath, false);
    if (delegate_ != nullptr)
        delegate_->tableViewDidSelectRowAtIndexPath(this, *indexPath);
}
