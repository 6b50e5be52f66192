// The keymap editor worked through the Settings app stand-in's session-bus handle, as a script
// works every other screen: its rows listed and tapped, a key pressed through the
// application's keyboard path, the binding saved when the editor leaves the screen.
#include "ChildProcess.h"
#include "EventLoopWait.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PreferencesHandle.h"
#include "TestDeviceRoot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using platform::PlistValue;
using platform::testing::ChildProcess;
using namespace std::chrono_literals;

namespace {

QVariant call(const QString &method, const QVariantList &arguments = {}) {
    return platform::testing::callPreferences(method, arguments);
}

TEST(KeymapBusHandle, ListsAndTapsTheEditorsRowsAndPressesAKey) {
    platform::testing::TestDeviceRoot root;
    root.addPreferenceBundle(BUNDLE_DIR);
    const std::string path = root.path(NBRPreferencesPath);
    ASSERT_TRUE(platform::writePlistAtomically(
        path, PlistValue(PlistValue::Dictionary{{NBRControllerTypeKey, 6}}),
        platform::PlistFormat::Binary));
    ChildProcess settings(PREFERENCES_PATH, {"--open", "Nimbrel"});
    ASSERT_TRUE(settings.waitForLine("ready"));

    ASSERT_TRUE(call("Tap", {QString("Configure Keymap")}).toBool());
    const QStringList rows = call("Rows").toStringList();
    ASSERT_GE(rows.size(), 11) << rows.join(" | ").toStdString();
    EXPECT_EQ(rows[0], "0.0\tD-pad right\t1");
    EXPECT_EQ(rows[1], "0.1\tD-pad left\t1");
    EXPECT_FALSE(call("Tap", {QString("No such control")}).toBool());

    // D-pad left waits for a key (by its identifier); Z (usage 29) binds to it.
    ASSERT_TRUE(call("Tap", {QString("0.1")}).toBool());
    EXPECT_TRUE(call("Key", {29}).toBool());
    EXPECT_FALSE(call("Key", {0}).toBool()) << "no key has usage 0";
    // And the bottom row, scrolled into view first, takes Return (usage 40).
    ASSERT_TRUE(call("Tap", {rows.last().section('\t', 1, 1)}).toBool());
    EXPECT_TRUE(call("Key", {40}).toBool());
    ASSERT_TRUE(call("Back").toBool());

    std::optional<PlistValue::Dictionary> file;
    const PlistValue::Dictionary *keymap = nullptr;
    platform::testing::spinUntil(
        [&] {
            file = platform::readPlistDictionary(path);
            keymap = file && file->count(NBRKeyboardKeymapKey)
                         ? file->at(NBRKeyboardKeymapKey).dictionary()
                         : nullptr;
            return keymap != nullptr;
        },
        2s);
    ASSERT_NE(keymap, nullptr);
    EXPECT_TRUE(keymap->count("29"));
    EXPECT_FALSE(keymap->count("4")) << "A drove D-pad left before";
    EXPECT_TRUE(keymap->count("40"));
    EXPECT_EQ(settings.stop(SIGTERM), 0);
}

} // namespace
