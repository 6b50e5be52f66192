#include "PSListController.h"

#include "NSBundle.h"
#include "PSClassRegistry.h"
#include "PSDefaultsDomain.h"
#include "PSSwitchTableCell.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "Selector.h"
#include "UINavigationController.h"
#include "notify.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

constexpr int kAnimationMs = 250;

std::string selectorOf(const QVariantMap &item, const char *key) {
    return item.value(key).toString().toStdString();
}

PSSpecifierRef specifierFromItem(const QVariantMap &item, QObject *target) {
    const int type = PSCellTypeFromString(item.value("cell").toString());
    if (type < 0)
        return nullptr;
    auto specifier = PSSpecifier::preferenceSpecifierNamed(
        item.value("label").toString(), target,
        "setPreferenceValue:specifier:", "readPreferenceValue:", nullptr,
        static_cast<PSCellType>(type), nullptr);
    for (auto it = item.begin(); it != item.end(); ++it)
        if (it.key() != "cell" && it.key() != "label")
            specifier->setProperty(it.value(), it.key());
    specifier->setButtonAction(selectorOf(item, "action"));
    QString detail = item.value("detail").toString();
    if (detail.isEmpty() && type == PSLinkListCell)
        detail = "PSListItemsController";
    specifier->setDetailControllerClass(detail);
    if (type == PSGroupCell || type == PSButtonCell || type == PSLinkCell) {
        specifier->setSetter({});
        specifier->setGetter({});
    }
    return specifier;
}

} // namespace

PSListController::PSListController() = default;

PSListController::~PSListController() = default;

QList<PSSpecifierRef> &PSListController::list() {
    if (!_specifiers)
        _specifiers.emplace();
    return *_specifiers;
}

QList<PSSpecifierRef> PSListController::specifiers() {
    return _specifiers.value_or(QList<PSSpecifierRef>{});
}

void PSListController::reloadSpecifiers() {
    _specifiers.reset();
    specifiers();
    rebuildTable();
}

QList<PSSpecifierRef> PSListController::loadSpecifiersFromPlistName(const QString &name,
                                                                    QObject *target) {
    QList<PSSpecifierRef> loaded;
    if (!bundle_)
        return loaded;
    const QVariantMap page = bundle_->propertyListResource(name);
    if (page.contains("title"))
        setTitle(page.value("title").toString());
    for (const QVariant &entry : page.value("items").toList())
        if (auto specifier = specifierFromItem(entry.toMap(), target))
            loaded.append(specifier);
    return loaded;
}

PSSpecifierRef PSListController::specifierForID(const QString &identifier) const {
    if (!_specifiers)
        return nullptr;
    for (const PSSpecifierRef &specifier : *_specifiers)
        if (specifier->identifier() == identifier)
            return specifier;
    return nullptr;
}

qsizetype PSListController::indexOfSpecifier(const PSSpecifier *specifier) const {
    if (!_specifiers || specifier == nullptr)
        return -1;
    for (qsizetype i = 0; i < _specifiers->size(); ++i)
        if ((*_specifiers)[i].get() == specifier)
            return i;
    return -1;
}

bool PSListController::containsSpecifier(const PSSpecifierRef &specifier) const {
    return indexOfSpecifier(specifier.get()) >= 0;
}

void PSListController::insertSpecifier(const PSSpecifierRef &specifier, const PSSpecifierRef &after,
                                       bool animated) {
    insertContiguousSpecifiers({specifier}, after, animated);
}

void PSListController::insertContiguousSpecifiers(const QList<PSSpecifierRef> &specifiers,
                                                  const PSSpecifierRef &after, bool animated) {
    const qsizetype found = indexOfSpecifier(after.get());
    qsizetype index = found >= 0 ? found + 1 : list().size();
    const qsizetype first = index;
    qsizetype count = 0;
    for (const PSSpecifierRef &specifier : specifiers) {
        // A row appears once: inserting a listed specifier again would give two rows one cell.
        if (!specifier || containsSpecifier(specifier))
            continue;
        list().insert(index, specifier);
        if (rows_ != nullptr) {
            QWidget *before =
                index > 0 ? rowWidgets_.value((*_specifiers)[index - 1].get()) : nullptr;
            QWidget *row = makeRow(specifier);
            rows_->insertWidget(before != nullptr ? rows_->indexOf(before) + 1 : 0, row);
            showRow(row, animated);
        }
        ++index;
        ++count;
    }
    if (count > 0)
        emit specifiersInserted(first, count, animated);
}

void PSListController::insertSpecifierAtIndex(const PSSpecifierRef &specifier, qsizetype index,
                                              bool animated) {
    const qsizetype clamped = std::clamp<qsizetype>(index, 0, list().size());
    insertContiguousSpecifiers({specifier}, clamped > 0 ? (*_specifiers)[clamped - 1] : nullptr,
                               animated);
    if (clamped == 0 && _specifiers->size() > 1 && _specifiers->last() == specifier) {
        // Appended for want of a predecessor: move to the front.
        _specifiers->move(_specifiers->size() - 1, 0);
        if (rows_ != nullptr) {
            QWidget *row = rowWidgets_.value(specifier.get());
            rows_->removeWidget(row);
            rows_->insertWidget(0, row);
        }
    }
}

void PSListController::removeSpecifier(const PSSpecifierRef &specifier, bool animated) {
    const qsizetype index = indexOfSpecifier(specifier.get());
    if (index < 0)
        return;
    _specifiers->removeAt(index);
    if (QWidget *row = rowWidgets_.take(specifier.get()))
        hideRow(row, animated);
    if (specifier->cellObject() != nullptr)
        specifier->setCellObject(nullptr);
    emit specifiersRemoved(index, 1, animated);
}

void PSListController::removeSpecifierID(const QString &identifier, bool animated) {
    if (PSSpecifierRef specifier = specifierForID(identifier))
        removeSpecifier(specifier, animated);
}

void PSListController::reloadSpecifier(const PSSpecifierRef &specifier, bool) {
    if (!specifier || !containsSpecifier(specifier))
        return;
    if (PSTableCell *cell = specifier->cellObject()) {
        cell->refreshCellContentsWithSpecifier(specifier.get());
        if (!specifier->getter().empty())
            cell->setValue(valueFromGetter(specifier.get()));
    } else if (QWidget *row = rowWidgets_.value(specifier.get())) {
        if (auto *header = qobject_cast<QLabel *>(row))
            header->setText(specifier->name().toUpper());
    }
}

QVariant PSListController::readPreferenceValue(PSSpecifier *specifier) {
    if (specifier == nullptr)
        return {};
    const QString key = specifier->propertyForKey("key").toString();
    const QString domain = specifier->propertyForKey("defaults").toString();
    if (!key.isEmpty() && !domain.isEmpty()) {
        const QVariant stored = PSDefaultsDomain(domain).valueForKey(key);
        if (stored.isValid())
            return stored;
    }
    return specifier->propertyForKey("default");
}

void PSListController::setPreferenceValue(const QVariant &value, PSSpecifier *specifier) {
    if (specifier == nullptr)
        return;
    const QString key = specifier->propertyForKey("key").toString();
    const QString domain = specifier->propertyForKey("defaults").toString();
    if (key.isEmpty() || domain.isEmpty())
        return;
    if (!PSDefaultsDomain(domain).setValueForKey(value, key)) {
        if (PSTableCell *cell = specifier->cellObject())
            cell->setValue(readPreferenceValue(specifier));
        return;
    }
    const QString notification = specifier->propertyForKey("PostNotification").toString();
    if (!notification.isEmpty())
        notify_post(notification.toUtf8().constData());
}

QVariant PSListController::valueFromGetter(PSSpecifier *specifier) {
    QVariant value;
    QObject *target = specifier->target() != nullptr ? specifier->target() : this;
    platform::performSelector(target, specifier->getter(), Q_RETURN_ARG(QVariant, value),
                              Q_ARG(PSSpecifier *, specifier));
    return value;
}

void PSListController::tableCellTapped(PSSpecifier *specifier) {
    if (specifier == nullptr)
        return;
    QObject *target = specifier->target() != nullptr ? specifier->target() : this;
    switch (specifier->cellType()) {
    case PSButtonCell:
    case PSLinkCell:
        if (!specifier->action().empty()) {
            platform::performSelector(target, specifier->action(), QGenericReturnArgument(),
                                      Q_ARG(PSSpecifier *, specifier));
            return;
        }
        break;
    default:
        break;
    }
    if (specifier->detailControllerClass().isEmpty() || navigationController() == nullptr)
        return;
    PSListController *detail =
        PSClassRegistry::createController(specifier->detailControllerClass());
    if (detail == nullptr)
        return;
    detail->setBundle(bundle_);
    detail->setParentController(this);
    detail->setSpecifier(specifier->shared_from_this());
    detail->setTitle(specifier->name());
    navigationController()->pushViewController(detail, true);
}

void PSListController::loadView() {
    scroll_ = new QScrollArea;
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus); // Tab goes to the rows
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    content_ = new QWidget;
    content_->setObjectName("tableContent");
    content_->setStyleSheet("#tableContent { background: #efeff4; }");
    auto *outer = new QVBoxLayout(content_);
    outer->setContentsMargins(0, 0, 0, 24);
    outer->setSpacing(0);
    rows_ = new QVBoxLayout;
    rows_->setSpacing(0);
    outer->addLayout(rows_);
    outer->addStretch(1);
    scroll_->setWidget(content_);
    setView(scroll_);
    rebuildTable();
}

void PSListController::rebuildTable() {
    if (rows_ == nullptr)
        return;
    // One repaint and layout pass for the whole rebuild.
    content_->setUpdatesEnabled(false);
    for (const QPointer<QWidget> &row : std::as_const(rowWidgets_))
        delete row.data();
    rowWidgets_.clear();
    while (QLayoutItem *item = rows_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const PSSpecifierRef &specifier : specifiers())
        rows_->addWidget(makeRow(specifier));
    content_->setUpdatesEnabled(true);
}

QWidget *PSListController::makeRow(const PSSpecifierRef &specifier) {
    QWidget *row = nullptr;
    if (specifier->cellType() == PSGroupCell) {
        auto *header = new QLabel(specifier->name().toUpper());
        header->setTextFormat(Qt::PlainText);
        header->setContentsMargins(15, 22, 15, 6);
        QFont small = header->font();
        small.setPixelSize(12);
        header->setFont(small);
        QPalette palette = header->palette();
        palette.setColor(QPalette::WindowText, QColor(0x6d, 0x6d, 0x72));
        header->setPalette(palette);
        row = header;
    } else {
        const QString className = specifier->propertyForKey("cellClass").toString();
        PSTableCell *cell = nullptr;
        if (!className.isEmpty())
            cell = PSClassRegistry::createCell(className, specifier->cellType(), className,
                                               specifier.get());
        if (cell == nullptr && specifier->cellType() == PSSwitchCell) {
            auto *toggle = new PSSwitchTableCell(PSSwitchCell, "PSSwitchCell", specifier.get());
            connect(toggle, &PSSwitchTableCell::switchChanged, this,
                    [this](PSTableCell *changed, bool on) {
                        PSSpecifier *owner = changed->specifier();
                        if (owner == nullptr)
                            return;
                        QObject *target = owner->target() != nullptr ? owner->target() : this;
                        platform::performSelector(target, owner->setter(), QGenericReturnArgument(),
                                                  Q_ARG(QVariant, on), Q_ARG(PSSpecifier *, owner));
                    });
            cell = toggle;
        }
        if (cell == nullptr)
            cell = new PSTableCell(specifier->cellType(), QString(), specifier.get());
        specifier->setCellObject(cell);
        if (!specifier->getter().empty())
            cell->setValue(valueFromGetter(specifier.get()));
        connect(cell, &PSTableCell::tapped, this,
                [this](PSTableCell *tapped) { tableCellTapped(tapped->specifier()); });
        row = cell;
    }
    rowWidgets_.insert(specifier.get(), row);
    return row;
}

void PSListController::showRow(QWidget *row, bool animated) {
    if (!animated)
        return;
    auto *animation = new QPropertyAnimation(row, "maximumHeight", row);
    animation->setDuration(kAnimationMs);
    animation->setStartValue(0);
    animation->setEndValue(row->sizeHint().height());
    connect(animation, &QPropertyAnimation::finished, row,
            [row] { row->setMaximumHeight(QWIDGETSIZE_MAX); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PSListController::hideRow(QWidget *row, bool animated) {
    if (!animated) {
        delete row;
        return;
    }
    row->setEnabled(false);
    auto *animation = new QPropertyAnimation(row, "maximumHeight", row);
    animation->setDuration(kAnimationMs);
    animation->setStartValue(row->height());
    animation->setEndValue(0);
    connect(animation, &QPropertyAnimation::finished, row, &QObject::deleteLater);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}
