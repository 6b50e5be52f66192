#include "PreferencesControl.h"

#include "PSListController.h"
#include "PSSwitchTableCell.h"
#include "PSTableCell.h"
#include "UIAlertView.h"
#include "UINavigationController.h"
#include "UIProgressHUD.h"
#include "UISwitch.h"
#include "UITableView.h"
#include "UITableViewCell.h"
#include "UITableViewController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>
#include <cstdlib>

namespace {

const QString kService = QStringLiteral("platform.preferences");
const QString kPath = QStringLiteral("/Preferences");

PSListController *topPage(UINavigationController *navigation) {
    return qobject_cast<PSListController *>(navigation->topViewController());
}

PSSpecifierRef rowNamed(PSListController *page, const QString &row) {
    if (page == nullptr)
        return nullptr;
    if (PSSpecifierRef specifier = page->specifierForID(row))
        return specifier;
    for (const PSSpecifierRef &specifier : page->specifiers())
        if (specifier->name() == row && specifier->cellObject() != nullptr)
            return specifier;
    return nullptr;
}

UITableViewCell *tableCellNamed(UITableView *table, const QString &row) {
    for (qsizetype section = 0; section < table->numberOfSections(); ++section)
        for (qsizetype at = 0; at < table->numberOfRowsInSection(section); ++at) {
            UITableViewCell *cell =
                table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(at, section));
            if (cell != nullptr && cell->textLabel()->text() == row)
                return cell;
        }
    return nullptr;
}

UIProgressHUD *visibleHud(QWidget *window) {
    for (UIProgressHUD *hud : window->findChildren<UIProgressHUD *>())
        if (hud->isShowing())
            return hud;
    return nullptr;
}

} // namespace

PreferencesControl::PreferencesControl(UINavigationController *navigation, QObject *parent)
    : QObject(parent), navigation_(navigation) {}

bool PreferencesControl::registerOnSessionBus() {
    const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address == nullptr || *address == '\0')
        return false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.registerService(kService) &&
           bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
}

bool PreferencesControl::Tap(const QString &row) {
    auto *table = qobject_cast<UITableViewController *>(navigation_->topViewController());
    if (table != nullptr && topPage(navigation_) == nullptr) {
        UITableViewCell *cell = tableCellNamed(table->tableView(), row);
        if (cell == nullptr)
            return false;
        QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
        return true;
    }
    PSSpecifierRef specifier = rowNamed(topPage(navigation_), row);
    PSTableCell *cell = specifier ? specifier->cellObject() : nullptr;
    if (cell == nullptr || !cell->isUserInteractionEnabled())
        return false;
    QWidget *target = cell;
    if (auto *toggle = qobject_cast<PSSwitchTableCell *>(cell))
        target = toggle->control();
    // The user scrolls a row into view before touching it.
    for (QWidget *w = target->parentWidget(); w != nullptr; w = w->parentWidget())
        if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
            scroll->ensureWidgetVisible(target);
            QCoreApplication::processEvents();
            break;
        }
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
    return true;
}

bool PreferencesControl::PressKey(const QString &key) {
    const QKeySequence sequence = QKeySequence::fromString(key, QKeySequence::PortableText);
    if (sequence.count() != 1 || navigation_->view()->windowHandle() == nullptr)
        return false;
    const QKeyCombination combination = sequence[0];
    QTest::keyClick(navigation_->view()->windowHandle(), combination.key(),
                    combination.keyboardModifiers());
    return true;
}

bool PreferencesControl::Back() {
    if (navigation_->viewControllers().size() < 2)
        return false;
    navigation_->popViewControllerAnimated(true);
    return true;
}

QString PreferencesControl::Title() const {
    UIViewController *top = navigation_->topViewController();
    return top != nullptr ? top->title() : QString();
}

QStringList PreferencesControl::Rows() const {
    QStringList rows;
    if (PSListController *page = topPage(navigation_))
        for (const PSSpecifierRef &specifier : page->specifiers()) {
            const PSTableCell *cell = specifier->cellObject();
            const bool enabled = cell == nullptr || cell->isUserInteractionEnabled();
            rows << specifier->identifier() + '\t' + specifier->name() + '\t' +
                        (enabled ? '1' : '0');
        }
    return rows;
}

QString PreferencesControl::Hud() const {
    UIProgressHUD *hud = visibleHud(navigation_->view());
    return hud != nullptr ? hud->text() : QString();
}

QStringList PreferencesControl::Alerts() const {
    QStringList alerts;
    for (const UIAlertView *alert : UIAlertView::visibleAlerts())
        alerts << alert->title() + '\t' + alert->message();
    return alerts;
}

bool PreferencesControl::DismissAlert() {
    const QList<UIAlertView *> alerts = UIAlertView::visibleAlerts();
    if (alerts.isEmpty())
        return false;
    UIAlertView *alert = alerts.last();
    QPushButton *button = alert->findChild<QPushButton *>();
    if (button != nullptr)
        QTest::mouseClick(button, Qt::LeftButton);
    else
        alert->dismissWithClickedButtonIndex(0, true);
    return true;
}

bool PreferencesControl::Screenshot(const QString &path) {
    QWidget *window = navigation_->view();
    QPixmap picture = window->grab();
    const QList<UIAlertView *> alerts = UIAlertView::visibleAlerts();
    if (!alerts.isEmpty()) {
        // Alerts are windows of their own; the user sees them centred over a dimmed page.
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 90));
        for (UIAlertView *alert : alerts) {
            const QPixmap card = alert->grab();
            const QRect place(QPoint((picture.width() - card.width()) / 2,
                                     (picture.height() - card.height()) / 2),
                              card.size());
            painter.drawPixmap(place.topLeft(), card);
        }
    }
    return picture.save(path, "PNG");
}
