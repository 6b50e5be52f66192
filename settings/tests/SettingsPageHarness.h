#pragma once

// The settings page as the Settings app shows it (in a navigation stack, on screen), under a
// fresh device root, for tests that drive it against real processes.
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NavigationOnScreen.h"
#include "NimbrelListController.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UIAlertView.h"
#include "UINavigationController.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <optional>

class SettingsPageHarness : public ::testing::Test {
protected:
    void TearDown() override {
        for (UIAlertView *alert : UIAlertView::visibleAlerts())
            alert->dismissWithClickedButtonIndex(0, false);
        delete navigation_;
        navigation_ = nullptr;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void seed(platform::PlistValue::Dictionary values) {
        ASSERT_TRUE(root_.writePlist(NBRPreferencesPath, std::move(values)));
    }
    // The preferences file as it is now; nullopt when there is none.
    std::optional<platform::PlistValue::Dictionary> preferences() const {
        return root_.readPlist(NBRPreferencesPath);
    }

    // Opens the page afresh, in place of one opened before.
    NimbrelListController *open(QSize size = {390, 900}) {
        delete navigation_;
        page_ = new NimbrelListController;
        page_->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
        configure(page_);
        navigation_ = platform::testing::showInNavigation(page_, size);
        return page_;
    }
    // Set-up that must happen before the page first comes on screen.
    virtual void configure(NimbrelListController *) {}

    // A finger on the row: a disabled cell takes no tap.
    void tap(const char *identifier) {
        PSSpecifierRef specifier = page_->specifierForID(identifier);
        ASSERT_TRUE(specifier) << identifier;
        PSTableCell *cell = specifier->cellObject();
        ASSERT_NE(cell, nullptr) << identifier;
        QTest::mouseClick(cell, Qt::LeftButton, {}, cell->rect().center());
    }

    QString title(const char *identifier) const {
        PSSpecifierRef specifier = page_->specifierForID(identifier);
        return specifier ? specifier->name() : QString();
    }

    static bool cellEnabled(PSTableCell *cell) {
        return cell != nullptr && cell->isUserInteractionEnabled() &&
               cell->textLabel()->isEnabled();
    }
    static bool cellDisabled(PSTableCell *cell) {
        return cell != nullptr && !cell->isUserInteractionEnabled() &&
               !cell->textLabel()->isEnabled();
    }

    static bool waitForAlerts(qsizetype count,
                              std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        return platform::testing::spinUntil(
            [count] { return UIAlertView::visibleAlerts().size() >= count; }, timeout);
    }
    static QStringList alertMessages() {
        QStringList messages;
        for (UIAlertView *alert : UIAlertView::visibleAlerts())
            messages.append(alert->title() + "|" + alert->message());
        return messages;
    }

    platform::testing::TestDeviceRoot root_;
    NimbrelListController *page_ = nullptr;
    UINavigationController *navigation_ = nullptr;
};
