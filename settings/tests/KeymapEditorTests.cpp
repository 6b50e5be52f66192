#include "NBRConstants.h"
#include "NBRKeymapViewController.h"
#include "NavigationOnScreen.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UIPhysicalKeyboardEvent.h"
#include "UITableViewCell.h"
#include "WidgetTestEnvironment.h"

#include <QDir>
#include <QLabel>
#include <QTest>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <set>

NBR_WIDGET_TEST_ENVIRONMENT_WITH(UIApplication);

using platform::PlistValue;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAre;

namespace {

const QString kPressKey = QString::fromUtf8("Press Key\u2026");

// Notes which rows the table asks for, so a test sees what a change reloaded.
class RecordingEditor : public NBRKeymapViewController {
public:
    using NBRKeymapViewController::NBRKeymapViewController;
    UITableViewCell *tableViewCellForRowAtIndexPath(UITableView *table,
                                                    const NSIndexPath &at) override {
        asked.push_back(at.row);
        return NBRKeymapViewController::tableViewCellForRowAtIndexPath(table, at);
    }
    std::vector<qsizetype> asked;
};

class KeymapEditor : public ::testing::Test {
protected:
    void TearDown() override {
        delete navigation_;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    std::string file() const { return root_.path(NBRPreferencesPath); }

    void seed(PlistValue::Dictionary values) {
        ASSERT_TRUE(root_.writePlist(NBRPreferencesPath, std::move(values)));
    }
    PlistValue::Dictionary keymapEntry(PlistValue::Dictionary keymap) {
        return {{NBRKeyboardKeymapKey, PlistValue(std::move(keymap))}};
    }

    // The editor as the settings page opens it: pushed over the page, then reloaded.
    RecordingEditor *open() {
        auto *page = new UIViewController;
        page->setTitle("Nimbrel");
        navigation_ = platform::testing::showInNavigation(page, {390, 1100});
        editor_ = new RecordingEditor(QString::fromStdString(file()));
        navigation_->pushViewController(editor_, true);
        editor_->tableView()->reloadData();
        QCoreApplication::processEvents();
        editor_->asked.clear();
        return editor_;
    }
    void back() { ASSERT_EQ(navigation_->popViewControllerAnimated(true), editor_); }

    UITableViewCell *cell(qsizetype row) const {
        return editor_->tableView()->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    }
    QLabel *label(qsizetype row) const {
        UITableViewCell *at = cell(row);
        return at != nullptr ? qobject_cast<QLabel *>(at->accessoryView()) : nullptr;
    }
    QString shown(qsizetype row) const {
        QLabel *at = label(row);
        return at != nullptr ? at->text() : QString("no label");
    }
    QColor colour(qsizetype row) const { return label(row)->palette().color(QPalette::WindowText); }
    std::vector<std::string> labels() const {
        std::vector<std::string> all;
        for (qsizetype row = 0; row < 21; ++row)
            all.push_back(shown(row).toStdString());
        return all;
    }

    void tap(qsizetype row) { QTest::mouseClick(cell(row), Qt::LeftButton); }
    void press(std::int64_t keyCode) {
        UIPhysicalKeyboardEvent event(keyCode, true);
        editor_->keyPressed(&event);
    }

    std::optional<PlistValue::Dictionary> stored() const {
        return platform::readPlistDictionary(file());
    }
    std::string storedBytes() const { return platform::testing::readFile(file()); }

    platform::testing::TestDeviceRoot root_;
    UINavigationController *navigation_ = nullptr;
    RecordingEditor *editor_ = nullptr;
};

TEST_F(KeymapEditor, AFileWithoutAKeymapShowsTheDefaultsAndLeavingWritesThemWithTheRest) {
    const PlistValue::Data address{0x00, 0x1b, 0xdc, 0x0f, 0x2a, 0x9e};
    seed(
        {{NBRControllerTypeKey, 6}, {NBRLEDColorKey, "ff8800"}, {NBRBluetoothAddressKey, address}});
    open();
    ASSERT_EQ(editor_->tableView()->numberOfRowsInSection(0), 21);
    EXPECT_EQ(cell(0)->textLabel()->text(), "D-pad right");
    EXPECT_EQ(cell(10)->textLabel()->text(), "Pause");
    EXPECT_EQ(cell(11)->textLabel()->text(), "Left Analog Stick right");
    EXPECT_EQ(cell(20)->textLabel()->text(), "Right Trigger (R2)");
    EXPECT_EQ(editor_->tableViewTitleForHeaderInSection(editor_->tableView(), 0),
              "Connect your keyboard either with USB or Bluetooth (with the builtin iOS Bluetooth "
              "pairing).");
    EXPECT_THAT(labels(), ElementsAre("D", "A", "W", "S", "K", "L", "J", "I", "2", "8", "Esc",
                                      "(none)", "(none)", "(none)", "(none)", "(none)", "(none)",
                                      "(none)", "(none)", "(none)", "(none)"));
    EXPECT_EQ(colour(2), QColor(Qt::black));
    EXPECT_TRUE(editor_->title().isEmpty()) << "the editor has no title of its own";

    back();
    EXPECT_EQ(storedBytes().substr(0, 8), "bplist00");
    auto file = stored();
    ASSERT_TRUE(file);
    EXPECT_EQ(file->size(), 4u);
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey), PlistValue(NBRKeymapViewController::defaultKeymap()));
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey).dictionary()->size(), 11u);
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey).dictionary()->at("41").integer(), 21);
    EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 6);
    EXPECT_EQ(*file->at(NBRLEDColorKey).string(), "ff8800");
    EXPECT_EQ(*file->at(NBRBluetoothAddressKey).data(), address);
    EXPECT_EQ(
        QDir(QString::fromStdString(root_.path(NBRPreferencesDirectory))).entryList(QDir::Files),
        QStringList{NBRPreferencesFileName})
        << "no temporary file stays behind";
}

// A stored keymap is the user's: a visit that binds no key writes nothing, so nothing another
// writer put in the file meanwhile can be lost by it.
TEST_F(KeymapEditor, LeavingWithoutChangesLeavesTheFileAsItIs) {
    PlistValue::Dictionary keymap{{"4", 19}, {"44", 5}, {"225", 21}};
    PlistValue::Dictionary before = keymapEntry(keymap);
    before.emplace(NBRControllerTypeKey, 6);
    before.emplace("ShouldSuppressNotification", true);
    before.emplace("NBRSomethingElse", PlistValue(PlistValue::Array{1, "two", 3.5}));
    seed(before);
    const std::string bytes = storedBytes();
    ASSERT_NE(bytes.substr(0, 8), "bplist00");
    open();
    EXPECT_EQ(shown(19), "A");
    EXPECT_EQ(shown(4), "Space");
    EXPECT_EQ(shown(10), "Left Shift");
    EXPECT_EQ(shown(0), "(none)");
    back();
    EXPECT_EQ(storedBytes(), bytes);
    EXPECT_EQ(stored(), before);
}

// What others store while the editor is open (the pairing tool its address, the page a colour,
// even a keymap) is on disk when the editor leaves: it writes its keymap into the file as it is
// then, and only its keymap.
TEST_F(KeymapEditor, LeavingKeepsWhatOthersWroteWhileTheEditorWasOpen) {
    const PlistValue::Data address{0x00, 0x1b, 0xdc, 0x0f, 0x2a, 0x9e};
    seed({{NBRControllerTypeKey, 6}, {NBRLEDColorKey, "ff8800"}});
    open();
    // No keymap in the file: leaving writes the defaults, into what is there now.
    seed(
        {{NBRControllerTypeKey, 6}, {NBRLEDColorKey, "00ff00"}, {NBRBluetoothAddressKey, address}});
    back();
    EXPECT_EQ(storedBytes().substr(0, 8), "bplist00");
    PlistValue::Dictionary expected = keymapEntry(NBRKeymapViewController::defaultKeymap());
    expected.emplace(NBRControllerTypeKey, 6);
    expected.emplace(NBRLEDColorKey, "00ff00");
    expected.emplace(NBRBluetoothAddressKey, address);
    EXPECT_EQ(stored(), expected);
    delete navigation_;
    navigation_ = nullptr;

    // A key bound: the keymap goes in, everything else stays as the other writer left it.
    open();
    tap(10);
    press(19); // P for Pause
    PlistValue::Dictionary meanwhile = expected;
    meanwhile[NBRLEDColorKey] = "123456";
    meanwhile.erase(NBRControllerTypeKey);
    meanwhile.emplace("NBRForceExtendedGamepad", true);
    seed(meanwhile);
    back();
    PlistValue::Dictionary keymap = NBRKeymapViewController::defaultKeymap();
    keymap.erase("41");
    keymap["19"] = int(NBRButtonNativePause);
    meanwhile[NBRKeyboardKeymapKey] = PlistValue(keymap);
    EXPECT_EQ(stored(), meanwhile);
    EXPECT_EQ(storedBytes().substr(0, 8), "bplist00");
}

TEST_F(KeymapEditor, WTakenFromDpadUpForL2LeavesDpadUpWithoutAKeyAndDropsL2sOldKey) {
    PlistValue::Dictionary keymap = NBRKeymapViewController::defaultKeymap();
    keymap.emplace("20", int(NBRButtonNativeL2)); // Q drove L2
    seed(keymapEntry(keymap));
    open();
    EXPECT_EQ(shown(19), "Q");
    tap(19);
    EXPECT_EQ(shown(19), kPressKey);
    EXPECT_EQ(colour(19), QColor(Qt::blue));
    EXPECT_TRUE(cell(19)->isSelected()) << "the row stays highlighted while it waits";
    EXPECT_EQ(editor_->indexPathOfCellToRemap(), NSIndexPath::indexPathForRow(19, 0));

    editor_->asked.clear();
    press(26);
    EXPECT_THAT(editor_->asked, UnorderedElementsAre(19, 2));
    EXPECT_EQ(editor_->keymap().at("26").integer(), NBRButtonNativeL2);
    EXPECT_EQ(editor_->keymap().count("20"), 0u);
    EXPECT_EQ(editor_->keymap().size(), 11u);
    EXPECT_EQ(shown(2), "(none)");
    EXPECT_EQ(shown(19), "W");
    EXPECT_EQ(colour(19), QColor(Qt::black));
    EXPECT_FALSE(cell(19)->isSelected());
    EXPECT_EQ(editor_->indexPathOfCellToRemap(), std::nullopt);
    EXPECT_EQ(editor_->selectedKeyCodeForNative(NBRButtonNativeDpadUp), -1);
    EXPECT_EQ(editor_->stringSelectedKeyCodeForNative(NBRButtonNativeDpadUp), std::nullopt);

    // The wait is over: later events change nothing.
    editor_->asked.clear();
    const PlistValue::Dictionary bound = editor_->keymap();
    press(4);
    UIPhysicalKeyboardEvent release(26, false);
    editor_->keyPressed(&release);
    EXPECT_EQ(editor_->keymap(), bound);
    EXPECT_TRUE(editor_->asked.empty());
}

TEST_F(KeymapEditor, PressingTheKeyARowAlreadyHasLeavesTheKeymapAsItWas) {
    open();
    tap(0);
    editor_->asked.clear();
    press(7);
    EXPECT_EQ(editor_->keymap(), NBRKeymapViewController::defaultKeymap());
    EXPECT_THAT(editor_->asked, ElementsAre(0)) << "no other row changed";
    EXPECT_EQ(shown(0), "D");
    EXPECT_EQ(colour(0), QColor(Qt::black));
}

TEST_F(KeymapEditor, AKeyBeforeAnyTapChangesNothing) {
    open();
    press(26);
    EXPECT_EQ(editor_->keymap(), NBRKeymapViewController::defaultKeymap());
    EXPECT_TRUE(editor_->asked.empty());
}

TEST_F(KeymapEditor, TappingROnceMoreThenSThenAKeyRebindsOnlyS) {
    open();
    tap(0);
    tap(0); // the same row again keeps waiting
    EXPECT_EQ(shown(0), kPressKey);
    EXPECT_TRUE(cell(0)->isSelected());
    tap(4);
    EXPECT_EQ(shown(0), "D") << "r shows its key again";
    EXPECT_EQ(colour(0), QColor(Qt::black));
    EXPECT_FALSE(cell(0)->isSelected());
    EXPECT_EQ(shown(4), kPressKey);
    EXPECT_TRUE(cell(4)->isSelected());
    press(44);
    EXPECT_EQ(shown(4), "Space");
    EXPECT_EQ(shown(0), "D");
    EXPECT_EQ(editor_->keymap().at("44").integer(), NBRButtonNativeA);
    EXPECT_EQ(editor_->keymap().count("14"), 0u);
    EXPECT_EQ(editor_->keymap().at("7").integer(), NBRButtonNativeDpadRight);
}

TEST_F(KeymapEditor, AWaitingRowDrawnAgainShowsItsKeyInBlackAndStillTakesTheKey) {
    open();
    tap(5);
    editor_->tableView()->reloadData();
    EXPECT_EQ(shown(5), "L");
    EXPECT_EQ(colour(5), QColor(Qt::black));
    press(40);
    EXPECT_EQ(shown(5), "Return");
}

TEST_F(KeymapEditor, AStoredKeyThatHoldsNoNumberReadsAsKeyZero) {
    seed(keymapEntry({{"up", int(NBRButtonNativeDpadUp)}, {"12", "8"}}));
    open();
    EXPECT_EQ(shown(2), "Key (0)");
    EXPECT_EQ(editor_->selectedKeyCodeForNative(NBRButtonNativeDpadUp), 0);
    EXPECT_EQ(editor_->stringSelectedKeyCodeForNative(NBRButtonNativeDpadUp), "up");
    EXPECT_EQ(shown(7), "I") << "a value stored as text still names its control";
    tap(2);
    press(26);
    EXPECT_EQ(editor_->keymap(), (PlistValue::Dictionary{{"26", 3}, {"12", "8"}}));
}

TEST_F(KeymapEditor, AHandEditedValueThatIsNoControlIsTakenOverWithoutTouchingOtherRows) {
    seed(keymapEntry({{"26", 99}, {"4", int(NBRButtonNativeDpadLeft)}}));
    open();
    EXPECT_EQ(shown(2), "(none)");
    tap(19);
    editor_->asked.clear();
    press(26);
    EXPECT_THAT(editor_->asked, ElementsAre(19));
    EXPECT_EQ(editor_->keymap().at("26").integer(), NBRButtonNativeL2);
}

TEST(KeyLabel, LettersDigitsSpecialKeysAndTheRest) {
    const std::vector<std::pair<std::int64_t, const char *>> cases = {
        {-1, "(none)"},     {4, "A"},
        {29, "Z"},          {30, "1"},
        {38, "9"},          {39, "Key (39)"},
        {40, "Return"},     {41, "Esc"},
        {42, "Backspace"},  {43, "Tab"},
        {44, "Space"},      {57, "Caps Lock"},
        {79, "\u2192"},     {80, "\u2190"},
        {81, "\u2193"},     {82, "\u2191"},
        {224, "Control"},   {225, "Left Shift"},
        {226, "Alt"},       {227, "Super"},
        {228, "Key (228)"}, {229, "Right Shift"},
        {230, "Key (230)"}, {231, "Key (231)"},
        {100, "Key (100)"}, {0, "Key (0)"},
        {3, "Key (3)"},     {-2, "Key (-2)"},
        {260, "A"},         {286, "1"}, // modulo 256
        {-252, "A"},        {INT64_MAX, "Key (9223372036854775807)"},
    };
    for (const auto &[code, label] : cases)
        EXPECT_EQ(NBRKeymapViewController::keyLabelForKeyCode(code), QString::fromUtf8(label))
            << code;
}

TEST_F(KeymapEditor, AKeymapMadeBeforeThereIsAFileIsSavedIntoANewOne) {
    open();
    EXPECT_EQ(editor_->rootSettings(), std::nullopt);
    EXPECT_EQ(shown(2), "W");
    tap(19);
    press(26);
    back();
    auto file = stored();
    ASSERT_TRUE(file) << "the keymap was lost";
    EXPECT_EQ(storedBytes().substr(0, 8), "bplist00");
    PlistValue::Dictionary expected = NBRKeymapViewController::defaultKeymap();
    expected["26"] = int(NBRButtonNativeL2);
    EXPECT_EQ(*file, keymapEntry(expected));
}

TEST_F(KeymapEditor, AFileThatCannotBeReadIsLeftAsItIs) {
    {
        std::ofstream out(file(), std::ios::binary);
        out << "<?xml version=\"1.0\"?><plist><dict><key>ControllerType</key>";
    }
    const std::string before = storedBytes();
    open();
    EXPECT_EQ(editor_->rootSettings(), std::nullopt);
    EXPECT_EQ(shown(0), "D");
    tap(0);
    press(4);
    back();
    EXPECT_EQ(storedBytes(), before);
}

// A keymap entry the editor cannot read shows the defaults, but a look never replaces it; a key
// the user binds does.
TEST_F(KeymapEditor, AKeymapEntryThatIsNoDictionaryShowsTheDefaultsAndSurvivesALook) {
    for (const PlistValue &unreadable :
         {PlistValue(PlistValue::Array{26, 3}), PlistValue("26=3"), PlistValue(7)}) {
        SCOPED_TRACE(static_cast<int>(unreadable.type()));
        const PlistValue::Dictionary before{{NBRKeyboardKeymapKey, unreadable},
                                            {NBRControllerTypeKey, 6}};
        seed(before);
        open();
        EXPECT_EQ(shown(2), "W");
        back();
        EXPECT_EQ(stored(), before);
        delete navigation_;
        navigation_ = nullptr;

        open();
        tap(2);
        press(26);
        back();
        auto file = stored();
        ASSERT_TRUE(file);
        EXPECT_EQ(file->at(NBRKeyboardKeymapKey),
                  PlistValue(NBRKeymapViewController::defaultKeymap()));
        EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 6);
        delete navigation_;
        navigation_ = nullptr;
    }
}

TEST(KeyEventTarget, IsTheNewestEditorAndAnOlderOnesEndLeavesItAlone) {
    platform::testing::TestDeviceRoot root;
    const QString path = QString::fromStdString(root.path(NBRPreferencesPath));
    EXPECT_EQ(NBRKeymapViewController::keyEventTarget(), nullptr);
    auto *first = new NBRKeymapViewController(path);
    EXPECT_EQ(NBRKeymapViewController::keyEventTarget(), first);
    auto *second = new NBRKeymapViewController(path);
    EXPECT_EQ(NBRKeymapViewController::keyEventTarget(), second);
    delete first;
    EXPECT_EQ(NBRKeymapViewController::keyEventTarget(), second);
    delete second;
    EXPECT_EQ(NBRKeymapViewController::keyEventTarget(), nullptr);
}

TEST(ButtonNative, RowsRunThroughTheButtonsPauseThenSticksAndTriggers) {
    std::vector<int> natives;
    for (qsizetype row = 0; row < 21; ++row)
        natives.push_back(NBRKeymapViewController::buttonNativeFromIndexPath(
            NSIndexPath::indexPathForRow(row, 3)));
    EXPECT_THAT(natives, ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 21, 11, 12, 13, 14, 15, 16, 17,
                                     18, 19, 20));
}

} // namespace
