// The keymap editor as the Settings app runs it: the bundle loaded into a process whose
// application object takes the keyboard's events, the editor opened by the settings page, keys
// sent to the window as a keyboard sends them.
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NavigationOnScreen.h"
#include "PSClassRegistry.h"
#include "PSListController.h"
#include "PlistValue.h"
#include "Selector.h"
#include "TestDeviceRoot.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UITableViewCell.h"
#include "UITableViewController.h"
#include "WidgetTestEnvironment.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>

NBR_WIDGET_TEST_ENVIRONMENT_WITH(UIApplication);

using platform::PlistValue;

namespace {

std::shared_ptr<NSBundle> loadedBundle() {
    static std::shared_ptr<NSBundle> bundle = [] {
        auto found = NSBundle::bundleWithPath(BUNDLE_DIR);
        if (found && !found->load())
            found.reset();
        return found;
    }();
    return bundle;
}

class KeyboardIntoTheEditor : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.writePlist(NBRPreferencesPath,
                                     {{NBRControllerTypeKey, 6}, {NBRLEDColorKey, "00ff00"}}));
        ASSERT_TRUE(loadedBundle());
        page_ = PSClassRegistry::createController(loadedBundle()->principalClassName());
        ASSERT_NE(page_, nullptr);
        page_->setBundle(loadedBundle());
        navigation_ = platform::testing::showInNavigation(page_, {390, 1100});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(navigation_->view()));
    }
    void TearDown() override {
        delete navigation_;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    UITableViewController *openEditor() {
        EXPECT_TRUE(platform::performSelector(page_, "openKeymapEditor"));
        QCoreApplication::processEvents();
        auto *editor = qobject_cast<UITableViewController *>(navigation_->topViewController());
        EXPECT_NE(editor, nullptr);
        if (editor != nullptr) {
            EXPECT_STREQ(editor->metaObject()->className(), "NBRKeymapViewController");
        }
        return editor;
    }
    void back() { navigation_->view()->findChild<QPushButton *>()->click(); }

    QString shown(UITableViewController *editor, qsizetype row) {
        UITableViewCell *cell =
            editor->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
        auto *label = cell != nullptr ? qobject_cast<QLabel *>(cell->accessoryView()) : nullptr;
        return label != nullptr ? label->text() : QString("no label");
    }
    void tap(UITableViewController *editor, qsizetype row) {
        QTest::mouseClick(
            editor->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)),
            Qt::LeftButton);
    }
    QWindow *window() { return navigation_->view()->windowHandle(); }
    // A key as the X server reports it: the scan code is the evdev code + 8.
    void typeScanCode(int key, quint32 scanCode) {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, scanCode, 0, 0);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, scanCode, 0, 0);
        QCoreApplication::sendEvent(window(), &press);
        QCoreApplication::sendEvent(window(), &release);
    }

    PlistValue::Dictionary storedKeymap() {
        auto file = root_.readPlist(NBRPreferencesPath);
        if (!file || !file->count(NBRKeyboardKeymapKey) ||
            !file->at(NBRKeyboardKeymapKey).dictionary())
            return {};
        return *file->at(NBRKeyboardKeymapKey).dictionary();
    }

    platform::testing::TestDeviceRoot root_;
    PSListController *page_ = nullptr;
    UINavigationController *navigation_ = nullptr;
};

TEST_F(KeyboardIntoTheEditor, KeysBindTheTappedRowsAndGoingBackSavesThem) {
    UITableViewController *editor = openEditor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(shown(editor, 2), "W");
    tap(editor, 19);
    EXPECT_EQ(shown(editor, 19), QString::fromUtf8("Press Key\u2026"));
    QTest::keyClick(window(), Qt::Key_W);
    EXPECT_EQ(shown(editor, 19), "W");
    EXPECT_EQ(shown(editor, 2), "(none)");
    tap(editor, 20);
    typeScanCode(Qt::Key_Control, 105); // the right-hand Control key
    EXPECT_EQ(shown(editor, 20), "Key (228)");
    QTest::keyClick(window(), Qt::Key_A); // no row waits
    EXPECT_EQ(shown(editor, 1), "A");

    back();
    const PlistValue::Dictionary keymap = storedKeymap();
    EXPECT_EQ(keymap.at("26").integer(), NBRButtonNativeL2);
    EXPECT_EQ(keymap.at("228").integer(), NBRButtonNativeR2);
    EXPECT_EQ(keymap.at("4").integer(), NBRButtonNativeDpadLeft);
    EXPECT_EQ(keymap.size(), 12u);
    auto file = root_.readPlist(NBRPreferencesPath);
    ASSERT_TRUE(file);
    EXPECT_EQ(*file->at(NBRLEDColorKey).string(), "00ff00");
    std::ifstream in(root_.path(NBRPreferencesPath), std::ios::binary);
    std::string magic(8, '\0');
    in.read(magic.data(), 8);
    EXPECT_EQ(magic, "bplist00");
}

TEST_F(KeyboardIntoTheEditor, AnEditorOpenedAgainGetsTheKeysEvenBeforeTheFirstIsGone) {
    QPointer<UITableViewController> first = openEditor();
    ASSERT_TRUE(first);
    back();
    ASSERT_TRUE(first) << "a popped screen goes once the event loop runs";
    UITableViewController *second = openEditor();
    ASSERT_NE(second, nullptr);
    ASSERT_NE(second, first.data());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(first);

    tap(second, 0);
    QTest::keyClick(window(), Qt::Key_Z);
    EXPECT_EQ(shown(second, 0), "Z");
    back();
    EXPECT_EQ(storedKeymap().at("29").integer(), NBRButtonNativeDpadRight);
    EXPECT_EQ(storedKeymap().count("7"), 0u);
}

} // namespace
