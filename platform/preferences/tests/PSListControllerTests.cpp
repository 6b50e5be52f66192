#include "ChildProcess.h"
#include "NSBundle.h"
#include "PSListController.h"
#include "PSSwitchTableCell.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UISwitch.h"
#include "WidgetTestEnvironment.h"

#include <QSignalSpy>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

NBR_WIDGET_TEST_ENVIRONMENT();

using ::testing::ElementsAre;

class SampleController : public PSListController {
    Q_OBJECT
  public:
    QList<PSSpecifierRef> specifiers() override {
        if (!_specifiers)
            _specifiers = loadSpecifiersFromPlistName(plist, this);
        return *_specifiers;
    }
    Q_INVOKABLE void go(PSSpecifier *specifier) { tapped.push_back(specifier); }

    QString plist = "Sample";
    std::vector<PSSpecifier *> tapped;
};

namespace {

class ListController : public ::testing::Test {
  protected:
    void SetUp() override {
        bundle_ = NSBundle::bundleWithPath(TEST_BUNDLE_DIR);
        ASSERT_TRUE(bundle_);
        page_.setBundle(bundle_);
        page_.view();
        page_.reloadSpecifiers();
    }
    std::vector<std::string> ids() {
        std::vector<std::string> all;
        for (const PSSpecifierRef &specifier : page_.specifiers())
            all.push_back(specifier->identifier().toStdString());
        return all;
    }
    std::string stored(const char *key) {
        auto file = platform::readPlistDictionary(
            root_.path("/var/mobile/Library/Preferences/com.example.sample.plist"));
        if (!file || !file->count(key))
            return "absent";
        return file->at(key).boolValue().value_or(false) ? "true" : "false";
    }

    platform::testing::TestDeviceRoot root_;
    std::shared_ptr<NSBundle> bundle_;
    SampleController page_;
};

TEST_F(ListController, LoadsThePageDescriptionSkippingKindsItDoesNotKnow) {
    EXPECT_EQ(page_.title(), "Sample");
    EXPECT_THAT(ids(), ElementsAre("First", "flag", "go", "nothing", "choice", "escape"));
    PSSpecifierRef flag = page_.specifierForID("flag");
    EXPECT_EQ(flag->cellType(), PSSwitchCell);
    EXPECT_EQ(flag->getter(), "readPreferenceValue:");
    EXPECT_EQ(flag->setter(), "setPreferenceValue:specifier:");
    EXPECT_EQ(flag->target(), &page_);
    EXPECT_TRUE(page_.specifierForID("go")->getter().empty()) << "buttons store nothing";
    EXPECT_EQ(page_.specifierForID("choice")->detailControllerClass(), "PSListItemsController");
    EXPECT_EQ(page_.specifierForID("choice")->titleForValue(2), "Two");
}

TEST_F(ListController, AnUnreadablePageDescriptionGivesAnEmptyPage) {
    page_.plist = "Broken";
    page_.reloadSpecifiers();
    EXPECT_TRUE(page_.specifiers().isEmpty());
    page_.plist = "Absent";
    page_.reloadSpecifiers();
    EXPECT_TRUE(page_.specifiers().isEmpty());
}

TEST_F(ListController, ASwitchStoresThenPostsItsNotification) {
    PSSpecifierRef flag = page_.specifierForID("flag");
    EXPECT_TRUE(page_.readPreferenceValue(flag.get()).toBool()) << "the default until stored";
    auto *cell = qobject_cast<PSSwitchTableCell *>(flag->cellObject());
    ASSERT_NE(cell, nullptr);
    EXPECT_TRUE(cell->control()->isOn());

    platform::testing::ChildProcess observer(NOTIFYUTIL_PATH, {"-w", "com.example.sample.changed"});
    ASSERT_TRUE(observer.waitForLine("ready"));
    cell->control()->click();
    EXPECT_EQ(stored("Flag"), "false");
    EXPECT_FALSE(page_.readPreferenceValue(flag.get()).toBool());
    EXPECT_TRUE(observer.waitForLine("com.example.sample.changed"));
}

TEST_F(ListController, AStoreThatCannotBeWrittenPutsTheSwitchBack) {
    PSSpecifierRef escape = page_.specifierForID("escape");
    auto *cell = qobject_cast<PSSwitchTableCell *>(escape->cellObject());
    ASSERT_NE(cell, nullptr);
    cell->control()->click();
    EXPECT_FALSE(cell->control()->isOn());
    EXPECT_FALSE(cell->value().toBool());
}

TEST_F(ListController, ButtonsSendTheirActionWithTheSpecifierAndUnknownActionsAreHarmless) {
    page_.tableCellTapped(page_.specifierForID("go").get());
    page_.tableCellTapped(page_.specifierForID("nothing").get());
    ASSERT_EQ(page_.tapped.size(), 1u);
    EXPECT_EQ(page_.tapped[0], page_.specifierForID("go").get());
}

TEST_F(ListController, InsertsAndRemovesKeepOneRowPerSpecifier) {
    QSignalSpy inserted(&page_, &PSListController::specifiersInserted);
    QSignalSpy removed(&page_, &PSListController::specifiersRemoved);
    auto a = PSSpecifier::groupSpecifierWithName("A");
    auto b = PSSpecifier::groupSpecifierWithName("B");
    page_.insertContiguousSpecifiers({a, b}, page_.specifierForID("go"), true);
    EXPECT_THAT(ids(), ElementsAre("First", "flag", "go", "A", "B", "nothing", "choice", "escape"));
    ASSERT_EQ(inserted.size(), 1);
    EXPECT_EQ(inserted[0][0].toLongLong(), 3);
    EXPECT_EQ(inserted[0][1].toLongLong(), 2);
    EXPECT_TRUE(inserted[0][2].toBool());

    page_.insertSpecifier(a, page_.specifierForID("escape"));
    EXPECT_EQ(inserted.size(), 1) << "a listed specifier is not listed twice";

    auto c = PSSpecifier::groupSpecifierWithName("C");
    page_.insertSpecifier(c, PSSpecifier::groupSpecifierWithName("unlisted"));
    EXPECT_EQ(ids().back(), "C") << "after an unlisted specifier: at the end";
    auto d = PSSpecifier::groupSpecifierWithName("D");
    page_.insertSpecifierAtIndex(d, 0);
    EXPECT_EQ(ids().front(), "D");

    page_.removeSpecifierID("B", false);
    page_.removeSpecifierID("missing", true);
    ASSERT_EQ(removed.size(), 1);
    EXPECT_EQ(removed[0][0].toLongLong(), 5);
    EXPECT_FALSE(removed[0][2].toBool());
    page_.reloadSpecifiers();
    EXPECT_THAT(ids(), ElementsAre("First", "flag", "go", "nothing", "choice", "escape"));
}

TEST(Bundle, AFolderWithoutInfoIsNoBundleAndAMissingExecutableDoesNotLoad) {
    EXPECT_EQ(NSBundle::bundleWithPath("/nonexistent/Thing.bundle"), nullptr);
    auto bundle = NSBundle::bundleWithPath(TEST_BUNDLE_DIR);
    ASSERT_TRUE(bundle);
    EXPECT_EQ(bundle->principalClassName(), "SampleController");
    EXPECT_FALSE(bundle->load());
    EXPECT_FALSE(bundle->loadError().isEmpty());
    EXPECT_TRUE(bundle->pathForResource("../Sample", "plist").isEmpty());
}

} // namespace

#include "PSListControllerTests.moc"
