#include "PreferencesControl.h"

#include "PSListController.h"
#include "PSSwitchTableCell.h"
#include "PSTableCell.h"
#include "UIAlertView.h"
#include "UIKeyboardHIDUsage.h"
#include "UINavigationController.h"
#include "UIProgressHUD.h"
#include "UISwitch.h"
#include "UITableViewCell.h"
#include "UITableViewController.h"

#include <QApplication>
#include <QDBusConnection>
#include <QKeyEvent>
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

// The screen's table when it is a plain table screen rather than a specifier list.
UITableView *plainTable(UINavigationController *navigation) {
    if (topPage(navigation) != nullptr)
        return nullptr;
    auto *screen = qobject_cast<UITableViewController *>(navigation->topViewController());
    return screen != nullptr ? screen->tableView() : nullptr;
}

QString rowIdentifier(qsizetype section, qsizetype row) {
    return QString("%1.%2").arg(section).arg(row);
}

UITableViewCell *plainRowNamed(UITableView *table, const QString &name) {
    for (qsizetype section = 0; section < table->numberOfSections(); ++section)
        for (qsizetype row = 0; row < table->numberOfRowsInSection(section); ++row) {
            UITableViewCell *cell =
                table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, section));
            if (cell != nullptr &&
                (rowIdentifier(section, row) == name || cell->textLabel()->text() == name))
                return cell;
        }
    return nullptr;
}

// The user scrolls a row into view before touching it.
void scrollIntoView(QWidget *target) {
    for (QWidget *w = target->parentWidget(); w != nullptr; w = w->parentWidget())
        if (auto *scroll = qobject_cast<QScrollArea *>(w)) {
            scroll->ensureWidgetVisible(target);
            QCoreApplication::processEvents();
            return;
        }
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
    QWidget *target = nullptr;
    if (UITableView *table = plainTable(navigation_)) {
        target = plainRowNamed(table, row);
        if (target == nullptr || !target->isEnabled())
            return false;
    } else {
        PSSpecifierRef specifier = rowNamed(topPage(navigation_), row);
        PSTableCell *cell = specifier ? specifier->cellObject() : nullptr;
        if (cell == nullptr || !cell->isUserInteractionEnabled())
            return false;
        target = cell;
        if (auto *toggle = qobject_cast<PSSwitchTableCell *>(cell))
            target = toggle->control();
    }
    scrollIntoView(target);
    QTest::mouseClick(target, Qt::LeftButton, {}, target->rect().center());
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
    else if (UITableView *table = plainTable(navigation_))
        for (qsizetype section = 0; section < table->numberOfSections(); ++section)
            for (qsizetype row = 0; row < table->numberOfRowsInSection(section); ++row) {
                const UITableViewCell *cell =
                    table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, section));
                rows << rowIdentifier(section, row) + '\t' + cell->textLabel()->text() + '\t' +
                            (cell->isEnabled() ? '1' : '0');
            }
    return rows;
}

bool PreferencesControl::Key(int usage) {
    const quint32 code = platform::evdevCodeForKeyboardUsage(usage);
    QWindow *window = navigation_->view()->window()->windowHandle();
    if (code == 0 || window == nullptr)
        return false;
    // The X key code (evdev + 8), as a keyboard under a display gives it.
    const quint32 scanCode = code + 8;
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, scanCode, 0, 0);
    QCoreApplication::sendEvent(window, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, scanCode, 0, 0);
    QCoreApplication::sendEvent(window, &release);
    return true;
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
    // Alerts over the window are part of it; one that found no window to cover is drawn over
    // it as the user would see it, centred over a dimmed page.
    QPixmap picture = window->grab();
    QList<UIAlertView *> loose;
    for (UIAlertView *alert : UIAlertView::visibleAlerts())
        if (alert->coveredWindow() != window)
            loose << alert;
    if (!loose.isEmpty()) {
        QPainter painter(&picture);
        painter.fillRect(picture.rect(), QColor(0, 0, 0, 90));
        for (UIAlertView *alert : loose) {
            const QPixmap card = alert->grab();
            const QRect place(QPoint((picture.width() - card.width()) / 2,
                                     (picture.height() - card.height()) / 2),
                              card.size());
            painter.drawPixmap(place.topLeft(), card);
        }
    }
    return picture.save(path, "PNG");
}
