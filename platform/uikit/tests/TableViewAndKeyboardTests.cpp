#include "UIApplication.h"
#include "UIKeyboardHIDUsage.h"
#include "UIPhysicalKeyboardEvent.h"
#include "UITableViewCell.h"
#include "UITableViewController.h"

#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

using ::testing::ElementsAre;

namespace {

class Numbers : public UITableViewController {
public:
    Numbers() : UITableViewController(UITableViewStyleGrouped) {
        tableView()->registerClassForCellReuseIdentifier<UITableViewCell>("n");
    }
    qsizetype numberOfSectionsInTableView(UITableView *) override { return 2; }
    qsizetype tableViewNumberOfRowsInSection(UITableView *, qsizetype section) override {
        return section == 0 ? 3 : 2;
    }
    QString tableViewTitleForHeaderInSection(UITableView *, qsizetype section) override {
        return section == 0 ? "first" : QString();
    }
    UITableViewCell *tableViewCellForRowAtIndexPath(UITableView *table,
                                                    const NSIndexPath &at) override {
        UITableViewCell *cell = table->dequeueReusableCellWithIdentifier("n", at);
        cell->textLabel()->setText(QString("%1.%2%3").arg(at.section).arg(at.row).arg(suffix));
        asked.push_back(at);
        return cell;
    }
    void tableViewDidSelectRowAtIndexPath(UITableView *, const NSIndexPath &at) override {
        selected.push_back(at);
    }
    QString suffix;
    std::vector<NSIndexPath> asked;
    std::vector<NSIndexPath> selected;
};

QString text(UITableView *table, qsizetype section, qsizetype row) {
    UITableViewCell *cell =
        table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, section));
    return cell != nullptr ? cell->textLabel()->text() : QString("-");
}

TEST(TableView, FillsItsSectionsOnFirstAppearanceAndReusesCellsOnReload) {
    Numbers screen;
    UITableView *table = screen.tableView();
    EXPECT_EQ(table->numberOfSections(), 0) << "nothing is asked before the table shows";
    screen.viewWillAppear(false);
    ASSERT_EQ(table->numberOfSections(), 2);
    EXPECT_EQ(table->numberOfRowsInSection(0), 3);
    EXPECT_EQ(table->numberOfRowsInSection(1), 2);
    EXPECT_EQ(text(table, 1, 1), "1.1");
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(2, 1)), nullptr);
    EXPECT_EQ(table->dequeueReusableCellWithIdentifier("unregistered", {}), nullptr);
    auto *header = table->widget()->findChild<QLabel *>();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->text(), "FIRST") << "grouped headers are capitals";

    auto cells = [&] {
        std::set<UITableViewCell *> all;
        for (qsizetype section = 0; section < 2; ++section)
            for (qsizetype row = 0; row < table->numberOfRowsInSection(section); ++row)
                all.insert(
                    table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, section)));
        return all;
    };
    const std::set<UITableViewCell *> before = cells();
    screen.suffix = "'";
    table->reloadData();
    EXPECT_EQ(text(table, 0, 0), "0.0'");
    EXPECT_EQ(text(table, 1, 1), "1.1'");
    EXPECT_EQ(cells(), before) << "the cells that left come back for the new rows";
}

TEST(TableView, ReloadsOnlyTheListedRowsInTheirPlaceAndMovesTheSelectionOnTap) {
    Numbers screen;
    UITableView *table = screen.tableView();
    table->resize(320, 600);
    table->show();
    screen.viewWillAppear(false);
    UITableViewCell *middle = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0));
    QTest::mouseClick(middle, Qt::LeftButton);
    EXPECT_THAT(screen.selected, ElementsAre(NSIndexPath{0, 1}));
    EXPECT_TRUE(middle->isSelected());
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{0, 1}));

    QTest::mouseClick(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 1)),
                      Qt::LeftButton);
    EXPECT_FALSE(middle->isSelected()) << "one row is selected at a time";
    EXPECT_EQ(table->indexPathForSelectedRow(), (NSIndexPath{1, 0}));

    screen.asked.clear();
    screen.suffix = "*";
    table->reloadRowsAtIndexPaths({{0, 1}, {1, 0}}, UITableViewRowAnimationFade);
    EXPECT_THAT(screen.asked, ElementsAre(NSIndexPath{0, 1}, NSIndexPath{1, 0}));
    EXPECT_EQ(text(table, 0, 0), "0.0") << "other rows stay as they were";
    EXPECT_EQ(text(table, 0, 1), "0.1*");
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))->isSelected(), false)
        << "a reloaded row is no longer selected";
    EXPECT_EQ(table->indexPathForSelectedRow(), std::nullopt);
    QCoreApplication::processEvents();
    auto y = [&](qsizetype row) {
        UITableViewCell *cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
        return cell->isVisible() ? cell->y() : -1;
    };
    EXPECT_LT(y(0), y(1)) << "the reloaded row keeps its place";
    EXPECT_LT(y(1), y(2));
}

TEST(KeyboardUsage, ComesFromTheXkbScanCodeElseFromQtsKey) {
    auto usage = [](int key, quint32 scanCode, Qt::KeyboardModifiers modifiers = {}) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, scanCode, 0, 0);
        return platform::keyboardUsageForKeyEvent(event);
    };
    EXPECT_EQ(usage(Qt::Key_A, 38), 4);
    EXPECT_EQ(usage(Qt::Key_W, 25), 26);
    EXPECT_EQ(usage(Qt::Key_0, 19), 39);
    EXPECT_EQ(usage(Qt::Key_Control, 105), 228) << "the right-hand twin has a scan code of its own";
    EXPECT_EQ(usage(Qt::Key_Meta, 134), 231);
    EXPECT_EQ(usage(Qt::Key_Backslash, 51), 49) << "two usages share evdev 43: the US one wins";
    EXPECT_EQ(usage(Qt::Key_Q, 38), 4) << "the scan code names the key whatever the layout";
    // Offscreen: no scan code.
    EXPECT_EQ(usage(Qt::Key_W, 0), 26);
    EXPECT_EQ(usage(Qt::Key_Z, 0), 29);
    EXPECT_EQ(usage(Qt::Key_1, 0), 30);
    EXPECT_EQ(usage(Qt::Key_0, 0), 39);
    EXPECT_EQ(usage(Qt::Key_Exclam, 0, Qt::ShiftModifier), 30);
    EXPECT_EQ(usage(Qt::Key_Escape, 0), 41);
    EXPECT_EQ(usage(Qt::Key_Up, 0), 82);
    EXPECT_EQ(usage(Qt::Key_Shift, 0), 225);
    EXPECT_EQ(usage(Qt::Key_F12, 0), 69);
    EXPECT_EQ(usage(Qt::Key_5, 0, Qt::KeypadModifier), 93);
    EXPECT_EQ(usage(Qt::Key_Enter, 0, Qt::KeypadModifier), 88);
    EXPECT_EQ(usage(Qt::Key_VolumeUp, 0), 0) << "a media key has no keyboard usage here";
    EXPECT_EQ(usage(Qt::Key_A, 3), 4) << "a scan code below the xkb range is no xkb code";
}

std::vector<std::string> seen;
UIApplication::KeyEventImplementation chained = nullptr;
QLineEdit *field = nullptr;

void recordAfterTheSystem(UIApplication *application, UIPhysicalKeyboardEvent *event) {
    chained(application, event);
    seen.push_back(std::to_string(event->_keyCode()) + (event->_isKeyDown() ? " down " : " up ") +
                   field->text().toStdString());
}

TEST(HardwareKeyboard, EachPressAndReleaseReachesAReplacementOnceAfterTheWidgets) {
    ASSERT_NE(UIApplication::sharedApplication(), nullptr);
    QLineEdit edit;
    field = &edit;
    edit.show();
    edit.activateWindow();
    edit.setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    seen.clear();
    chained = UIApplication::setKeyEventImplementation(&recordAfterTheSystem);
    QTest::keyClick(edit.windowHandle(), Qt::Key_W);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier, 105, 0xffe4, 0);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier, 105, 0xffe4, 0);
    QCoreApplication::sendEvent(edit.windowHandle(), &press);
    QCoreApplication::sendEvent(edit.windowHandle(), &release);
    QKeyEvent media(QEvent::KeyPress, Qt::Key_VolumeUp, Qt::NoModifier);
    QCoreApplication::sendEvent(edit.windowHandle(), &media);
    QTest::keyClick(&edit, Qt::Key_X); // straight to the widget: not from the keyboard
    EXPECT_EQ(UIApplication::setKeyEventImplementation(chained), &recordAfterTheSystem);
    QTest::keyClick(edit.windowHandle(), Qt::Key_Y);

    EXPECT_THAT(seen, ElementsAre("26 down w", "26 up w", "228 down w", "228 up w"));
    EXPECT_EQ(edit.text(), "wxy") << "the application still delivers every key";
}

} // namespace
