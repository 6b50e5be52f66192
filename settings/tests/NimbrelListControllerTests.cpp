#include "ChildProcess.h"
#include "NBRColorChooserCell.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "NimbrelListController.h"
#include "PSListItemsController.h"
#include "PSSwitchTableCell.h"
#include "PlistValue.h"
#include "SettingsPageHarness.h"
#include "UIAlertView.h"
#include "UIElidingLabel.h"
#include "UINavigationController.h"
#include "UISwitch.h"
#include "WidgetTestEnvironment.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

NBR_WIDGET_TEST_ENVIRONMENT();

using platform::PlistValue;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

const QString kWarning = "Your controller is missing some buttons the extended gamepad requires. "
                         "By forcing this profile you may have poor gaming experience. Please "
                         "turn this off unless you know what this means.";

class NimbrelPage : public SettingsPageHarness {
protected:
    std::vector<std::string> ids() const {
        std::vector<std::string> all;
        for (const PSSpecifierRef &specifier : page_->specifiers())
            all.push_back(specifier->identifier().toStdString());
        return all;
    }

    // The identifiers between the pair button and the next group of the page description.
    std::vector<std::string> afterPair() const {
        std::vector<std::string> all = ids();
        auto at = std::find(all.begin(), all.end(), NBRPairSpecifierID);
        auto end = std::find(at, all.end(), "Banners");
        return at == all.end() ? std::vector<std::string>{} : std::vector<std::string>(at + 1, end);
    }

    int count(const char *identifier) const {
        const auto all = ids();
        return static_cast<int>(std::count(all.begin(), all.end(), identifier));
    }

    // Turns a switch row the way a finger does.
    void flip(const char *identifier) {
        PSSpecifierRef specifier = page_->specifierForID(identifier);
        ASSERT_TRUE(specifier) << identifier;
        auto *cell = qobject_cast<PSSwitchTableCell *>(specifier->cellObject());
        ASSERT_NE(cell, nullptr) << identifier;
        cell->control()->click();
    }

    const PlistValue *stored(const char *key) {
        file_ = preferences();
        if (!file_)
            return nullptr;
        auto found = file_->find(key);
        return found == file_->end() ? nullptr : &found->second;
    }

    std::optional<PlistValue::Dictionary> file_;
};

TEST_F(NimbrelPage, DualShock4WithAmbientOnHidesTheColourButtonUntilAmbientGoesOff) {
    seed({{NBRControllerTypeKey, 1}, {NBRAmbientColorKey, true}});
    open();
    EXPECT_THAT(afterPair(), ElementsAre(NBRDS4GroupID, NBRAmbientColorID));
    EXPECT_EQ(title(NBRDS4GroupID), "DualShock 4");
    EXPECT_EQ(title(NBRAmbientColorID), "Ambient LED Color");
    EXPECT_EQ(title(NBRPairSpecifierID), "Pair Controller");

    QSignalSpy inserted(page_, &PSListController::specifiersInserted);
    QSignalSpy removed(page_, &PSListController::specifiersRemoved);
    flip(NBRAmbientColorID);
    EXPECT_THAT(afterPair(), ElementsAre(NBRDS4GroupID, NBRAmbientColorID, NBRLEDColorID));
    EXPECT_EQ(title(NBRLEDColorID), "Choose LED Color");
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_TRUE(inserted[0][2].toBool()) << "inserted with animation";
    auto *colorCell = dynamic_cast<NBRColorChooserCell *>(page_->ds4ColorChooser()->cellObject());
    ASSERT_NE(colorCell, nullptr);
    EXPECT_EQ(colorCell->colorMark()->backgroundColor(), NBRColorForHexString("004EFD"));
    ASSERT_NE(stored(NBRAmbientColorKey), nullptr);
    EXPECT_EQ(stored(NBRAmbientColorKey)->boolean(), false);

    flip(NBRAmbientColorID);
    EXPECT_THAT(afterPair(), ElementsAre(NBRDS4GroupID, NBRAmbientColorID));
    ASSERT_EQ(removed.size(), 1);
    EXPECT_TRUE(removed[0][2].toBool()) << "removed with animation";
    EXPECT_EQ(stored(NBRAmbientColorKey)->boolean(), true);
}

TEST_F(NimbrelPage, DualShock4WithAmbientOffShowsTheStoredColour) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "ff8000"}});
    open();
    EXPECT_THAT(afterPair(), ElementsAre(NBRDS4GroupID, NBRAmbientColorID, NBRLEDColorID));
    auto *colorCell = dynamic_cast<NBRColorChooserCell *>(page_->ds4ColorChooser()->cellObject());
    ASSERT_NE(colorCell, nullptr);
    EXPECT_EQ(colorCell->colorMark()->backgroundColor(), NBRColorForHexString("ff8000"));
    EXPECT_EQ(count(NBRConnectID), 0) << "connection mode 0 shows no connect button";
}

TEST_F(NimbrelPage, ChangingTypeOneToFiveSwapsTheSectionForForceExtended) {
    seed({{NBRControllerTypeKey, 1}});
    open();
    page_->setPreferenceValue(5, page_->specifierForID(NBRControllerTypeSpecifierID).get());
    page_->reloadSpecifiers();
    EXPECT_THAT(afterPair(), ElementsAre(NBRForceExtendedSpecifierID));
    EXPECT_EQ(title(NBRForceExtendedSpecifierID), "Force Extended Gamepad");
    EXPECT_EQ(stored(NBRControllerTypeKey)->integer(), 5);
}

TEST_F(NimbrelPage, KeyboardInManualModeHasNoConnectButton) {
    seed({{NBRControllerTypeKey, 6}, {NBRConnectionModeKey, 1}});
    open();
    EXPECT_EQ(title(NBRPairSpecifierID), "Configure Keymap");
    EXPECT_THAT(afterPair(), ElementsAre(NBRForceExtendedSpecifierID));
    EXPECT_EQ(count(NBRConnectID), 0);
}

TEST_F(NimbrelPage, PS3InManualModeShowsMailAndConnectAfterConnectionMode) {
    seed({{NBRControllerTypeKey, 0}, {NBRConnectionModeKey, 1}});
    open();
    EXPECT_EQ(title(NBRPairSpecifierID), "E-mail Pairing Instructions");
    EXPECT_THAT(afterPair(), IsEmpty());
    const auto all = ids();
    auto mode = std::find(all.begin(), all.end(), NBRConnectionModeSpecifierID);
    ASSERT_NE(mode + 1, all.end());
    EXPECT_EQ(*(mode + 1), NBRConnectID);
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
}

TEST_F(NimbrelPage, TypesOutsideTheTableBehaveLikeTypeTwo) {
    seed({{NBRControllerTypeKey, 9}, {NBRConnectionModeKey, 1}});
    open();
    EXPECT_EQ(title(NBRPairSpecifierID), "Pair Controller");
    EXPECT_THAT(afterPair(), IsEmpty());
    EXPECT_EQ(count(NBRConnectID), 1);
}

TEST_F(NimbrelPage, ForceExtendedWarnsOnEverySwitchOnAndNeverOnSwitchOff) {
    seed({{NBRControllerTypeKey, 5}});
    open();
    for (int round = 0; round < 2; ++round) {
        flip(NBRForceExtendedSpecifierID);
        auto alerts = UIAlertView::visibleAlerts();
        ASSERT_EQ(alerts.size(), 1) << "round " << round;
        EXPECT_EQ(alerts[0]->title(), "Important!");
        EXPECT_EQ(alerts[0]->message(), kWarning);
        EXPECT_EQ(alerts[0]->buttonTitles(), QStringList{"Dismiss"});
        EXPECT_EQ(stored(NBRForceExtendedGamepadKey)->boolean(), true) << "still stored";
        alerts[0]->dismissWithClickedButtonIndex(0, false);

        flip(NBRForceExtendedSpecifierID);
        EXPECT_THAT(UIAlertView::visibleAlerts(), IsEmpty());
        EXPECT_EQ(stored(NBRForceExtendedGamepadKey)->boolean(), false);
    }
}

TEST_F(NimbrelPage, ConnectedControllerKeepsTheDisconnectTitleAcrossReloads) {
    seed({{NBRControllerTypeKey, 2}, {NBRConnectionModeKey, 1}});
    open();
    EXPECT_EQ(title(NBRConnectID), "Connect Controller");
    page_->setControllerConnected(true);
    for (int reload = 0; reload < 3; ++reload) {
        page_->reloadSpecifiers();
        EXPECT_EQ(title(NBRConnectID), "Disconnect Controller");
        EXPECT_EQ(count(NBRConnectID), 1);
    }
    PSTableCell *cell = page_->connectSpecifier()->cellObject();
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->textLabel()->text(), "Disconnect Controller");
}

TEST_F(NimbrelPage, InsertingTwiceGivesOneRow) {
    seed({{NBRControllerTypeKey, 1}, {NBRConnectionModeKey, 1}});
    open();
    page_->setHasConnectCell(true);
    page_->setHasConnectCell(true);
    page_->setHasForceExtendedCell(true);
    page_->setHasForceExtendedCell(true);
    page_->setHasDS4Specifiers(true);
    page_->setHasColorChooserSpecifier(true, true);
    EXPECT_EQ(count(NBRConnectID), 1);
    EXPECT_EQ(count(NBRForceExtendedSpecifierID), 1);
    EXPECT_EQ(count(NBRDS4GroupID), 1);
    EXPECT_EQ(count(NBRLEDColorID), 1);
    page_->setHasForceExtendedCell(false);
    EXPECT_EQ(count(NBRForceExtendedSpecifierID), 0);
}

TEST_F(NimbrelPage, RemovingTheSectionTakesItsColourButtonAlong) {
    seed({{NBRControllerTypeKey, 1}});
    open();
    ASSERT_EQ(count(NBRLEDColorID), 1);
    page_->setHasDS4Specifiers(false);
    EXPECT_THAT(afterPair(), IsEmpty());
}

TEST_F(NimbrelPage, WithoutAPreferencesFileTheFirstSwitchCreatesIt) {
    platform::testing::ChildProcess observer(NOTIFYUTIL_PATH,
                                             {"-w", NBRPreferencesChangedNotification});
    ASSERT_TRUE(observer.waitForLine("ready"));
    open();
    EXPECT_EQ(page_->currentControllerType(), 0);
    EXPECT_EQ(page_->connectionType(), 0);
    EXPECT_EQ(count(NBRConnectID), 0);
    flip("suppress_notification");
    ASSERT_NE(stored(NBRSuppressNotificationKey), nullptr);
    EXPECT_EQ(stored(NBRSuppressNotificationKey)->boolean(), true);
    EXPECT_TRUE(observer.waitForLine(NBRPreferencesChangedNotification));
}

TEST_F(NimbrelPage, ChoosingATypeFromItsListRebuildsThePageOnReturn) {
    seed({{NBRControllerTypeKey, 1}, {NBRConnectionModeKey, 1}});
    open();
    page_->tableCellTapped(page_->specifierForID(NBRControllerTypeSpecifierID).get());
    auto *choices = qobject_cast<PSListItemsController *>(navigation_->topViewController());
    ASSERT_NE(choices, nullptr);
    PSSpecifierRef keyboard;
    for (const PSSpecifierRef &item : choices->specifiers()) {
        if (item->propertyForKey("value").toInt() == 1) {
            EXPECT_TRUE(item->cellObject()->isChecked()) << "the stored type is checked";
        }
        if (item->propertyForKey("value").toInt() == 6)
            keyboard = item;
    }
    ASSERT_TRUE(keyboard);
    choices->tableCellTapped(keyboard.get());
    EXPECT_EQ(stored(NBRControllerTypeKey)->integer(), 6);
    EXPECT_TRUE(keyboard->cellObject()->isChecked());

    navigation_->popViewControllerAnimated(false);
    EXPECT_EQ(title(NBRPairSpecifierID), "Configure Keymap");
    EXPECT_THAT(afterPair(), ElementsAre(NBRForceExtendedSpecifierID));
    EXPECT_EQ(count(NBRConnectID), 0);
}

TEST_F(NimbrelPage, EveryRowOfEveryTypeStaysInsideTheWindow) {
    for (int type = 0; type <= 6; ++type) {
        seed({{NBRControllerTypeKey, type}, {NBRConnectionModeKey, 1}});
        open();
        navigation_->view()->resize(390, 720);
        QTest::qWait(50);
        QWidget *window = navigation_->view();
        for (const PSSpecifierRef &specifier : page_->specifiers()) {
            PSTableCell *cell = specifier->cellObject();
            if (cell == nullptr || !cell->isVisible())
                continue;
            QList<QWidget *> parts = cell->findChildren<QWidget *>();
            parts << cell;
            for (QWidget *part : parts) {
                if (!part->isVisible())
                    continue;
                const QRect shown(part->mapTo(window, QPoint(0, 0)), part->size());
                EXPECT_GE(shown.left(), 0)
                    << "type " << type << " " << qPrintable(specifier->name());
                EXPECT_LE(shown.right(), window->width() - 1)
                    << "type " << type << " " << qPrintable(specifier->name());
            }
        }
        if (type == 4 || type == 5) {
            PSTableCell *typeRow =
                page_->specifierForID(NBRControllerTypeSpecifierID)->cellObject();
            auto *value = qobject_cast<UIElidingLabel *>(typeRow->detailTextLabel());
            ASSERT_NE(value, nullptr);
            EXPECT_TRUE(value->text().startsWith("X + HOME Controller"));
            EXPECT_TRUE(value->shownText().endsWith(QString::fromUtf8("\u2026")))
                << qPrintable(value->shownText());
        }
    }
}

TEST_F(NimbrelPage, ScreenshotsOfTypesZeroOneAndSix) {
    QDir().mkpath(SCREENSHOT_DIR);
    for (int type : {0, 1, 6}) {
        seed({{NBRControllerTypeKey, type}, {NBRConnectionModeKey, 1}});
        open();
        navigation_->view()->resize(390, 720);
        QTest::qWait(350); // let row animations settle
        const QImage shot = navigation_->view()->grab().toImage();
        const QString file = QString(SCREENSHOT_DIR) + QString("/settings-type%1.png").arg(type);
        ASSERT_TRUE(shot.save(file, "PNG")) << file.toStdString();
        std::set<QRgb> colours;
        for (int y = 0; y < shot.height(); y += 3)
            for (int x = 0; x < shot.width(); x += 3)
                colours.insert(shot.pixel(x, y));
        EXPECT_GT(colours.size(), 20u) << "type " << type << " drew text and cells";
    }
}

// A file written by hand may hold text or a real where a number or a switch belongs: the page
// reads them as the banner plug-in does (the platform's integerValue and boolValue), not by
// rules of its own that rounded 5.9 to 6 and took "NO" for on.
TEST_F(NimbrelPage, TextAndRealsReadAsThePlatformReadsThem) {
    // Whether the switch row shows on; nothing when the row is not there.
    auto switchOn = [&](const char *identifier) -> std::optional<bool> {
        PSSpecifierRef specifier = page_->specifierForID(identifier);
        auto *cell =
            specifier ? qobject_cast<PSSwitchTableCell *>(specifier->cellObject()) : nullptr;
        return cell != nullptr ? std::optional<bool>(cell->control()->isOn()) : std::nullopt;
    };
    seed({{NBRControllerTypeKey, 5.9},
          {NBRConnectionModeKey, "1.5"},
          {NBRSuppressNotificationKey, "NO"}});
    open();
    EXPECT_EQ(title(NBRPairSpecifierID), "Pair Controller") << "5.9 is type 5, not 6";
    EXPECT_THAT(afterPair(), ElementsAre(NBRForceExtendedSpecifierID));
    EXPECT_EQ(count(NBRConnectID), 1) << "mode \"1.5\" is 1";
    EXPECT_EQ(switchOn("suppress_notification"), false) << "\"NO\" is off";
    delete navigation_;
    navigation_ = nullptr;

    seed({{NBRControllerTypeKey, " 1.0"},
          {NBRAmbientColorKey, "NO"},
          {NBRSuppressNotificationKey, "YES"}});
    open();
    EXPECT_THAT(afterPair(), ElementsAre(NBRDS4GroupID, NBRAmbientColorID, NBRLEDColorID))
        << "type 1 with the ambient switch off";
    EXPECT_EQ(switchOn(NBRAmbientColorID), false);
    EXPECT_EQ(switchOn("suppress_notification"), true);
}

} // namespace
