#pragma once

// The settings page as the Settings app shows it (in a navigation stack, on screen), under a
// fresh device root, for tests that drive it against real processes.
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "PSTableCell.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UIAlertView.h"
#include "UINavigationController.h"

#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

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
        ASSERT_TRUE(platform::writePlistAtomically(root_.path(NBRPreferencesPath),
                                                   platform::PlistValue(std::move(values)),
                                                   platform::PlistFormat::XML));
    }

    NimbrelListController *open() {
        page_ = new NimbrelListController;
        page_->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
        configure(page_);
        navigation_ = new UINavigationController(page_);
        navigation_->view()->resize(390, 900);
        navigation_->viewWillAppear(false);
        navigation_->view()->show();
        navigation_->viewDidAppear(false);
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

    static std::string readFile(const std::string &path) {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    platform::testing::TestDeviceRoot root_;
    NimbrelListController *page_ = nullptr;
    UINavigationController *navigation_ = nullptr;
};
