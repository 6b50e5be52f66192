// The keymap editor and a second writer of the preferences file, as processes: the Settings app
// stand-in, worked through its session-bus handle, has the editor open while the pairing tool
// stores an address and another writer stores a light-bar colour. Leaving the editor must keep
// both, whether the user bound a key or not.
#include "ChildProcess.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PreferencesHandle.h"
#include "TestDeviceRoot.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using platform::PlistValue;
using platform::testing::ChildProcess;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

bool call(const QString &method, const QVariantList &arguments = {}) {
    return platform::testing::callPreferences(method, arguments).toBool();
}

const PlistValue::Data kPad{0x1c, 0x66, 0x6d, 0x01, 0x02, 0x03};

class KeymapAndASecondWriter : public ::testing::Test {
protected:
    void SetUp() override {
        root_.addPreferenceBundle(BUNDLE_DIR);
        ASSERT_TRUE(platform::writePlistAtomically(
            path(), PlistValue(PlistValue::Dictionary{{NBRControllerTypeKey, 6}}),
            platform::PlistFormat::XML));
    }
    std::string path() const { return root_.path(NBRPreferencesPath); }
    std::optional<PlistValue::Dictionary> stored() const {
        return platform::readPlistDictionary(path());
    }

    // Stores one key as the Settings app's store does: the whole file read, changed, replaced.
    void storeColour(const std::string &colour) {
        auto file = stored();
        ASSERT_TRUE(file);
        (*file)[NBRLEDColorKey] = colour;
        ASSERT_TRUE(platform::writePlistAtomically(path(), PlistValue(std::move(*file)),
                                                   platform::PlistFormat::Binary));
    }

    // Waits until the file satisfies `done`, as the editor's save follows the screen's leaving.
    template <class Check> bool waitForFile(Check done) {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (auto file = stored(); file && done(*file))
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    }

    platform::testing::TestDeviceRoot root_;
};

TEST_F(KeymapAndASecondWriter, WhatOthersStoreWhileTheEditorIsOpenOutlivesLeavingIt) {
    ChildProcess simulator(SIMULATOR_PATH, {"--inquiry-unit", "100", "--device",
                                            "address=1C:66:6D:01:02:03,class=0x002508,pin=5820"});
    ASSERT_TRUE(simulator.waitForLine("ready"));
    ChildProcess settings(PREFERENCES_PATH, {"--open", "Nimbrel"});
    ASSERT_TRUE(settings.waitForLine("ready")) << settings.output();

    // 1. A visit that binds nothing, in a file without a keymap: the tool stores the address and
    // a colour is stored while the editor is open.
    ASSERT_TRUE(call("Tap", {QString(NBRPairSpecifierID)}));
    {
        ChildProcess tool(TOOL_PATH, {});
        ASSERT_TRUE(simulator.waitForLine(
            "command client=1 hci_pin_code_request_reply address=1C:66:6D:01:02:03 pin_length=4 "
            "pin=5820",
            20s))
            << simulator.output();
        EXPECT_EQ(tool.stop(SIGINT, 10s), 0);
    }
    storeColour("00ff00");
    ASSERT_TRUE(call("Back"));
    ASSERT_TRUE(waitForFile([](const auto &file) { return file.count(NBRKeyboardKeymapKey); }))
        << "the defaults are written when the file has no keymap";
    auto file = stored();
    EXPECT_EQ(file->at(NBRBluetoothAddressKey), PlistValue(kPad)) << "the address was lost";
    EXPECT_EQ(file->at(NBRLEDColorKey), PlistValue("00ff00")) << "the colour was lost";
    EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 6);
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey).dictionary()->size(), 11u);

    // 2. A visit that binds P to Pause while the colour changes again.
    ASSERT_TRUE(call("Tap", {QString(NBRPairSpecifierID)}));
    ASSERT_TRUE(call("Tap", {QString("Pause")}));
    ASSERT_TRUE(call("Key", {19}) /* P */);
    storeColour("123456");
    ASSERT_TRUE(call("Back"));
    ASSERT_TRUE(waitForFile([](const auto &file) {
        const auto keymap = file.find(NBRKeyboardKeymapKey);
        return keymap != file.end() && keymap->second.find("19") != nullptr;
    })) << "the bound key was not saved";
    file = stored();
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey).find("19")->integer(), NBRButtonNativePause);
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey).find("41"), nullptr) << "Escape no longer pauses";
    EXPECT_EQ(file->at(NBRLEDColorKey), PlistValue("123456"));
    EXPECT_EQ(file->at(NBRBluetoothAddressKey), PlistValue(kPad));

    // 3. A visit that changes nothing writes nothing: a colour stored during it stays.
    const PlistValue keymap = file->at(NBRKeyboardKeymapKey);
    ASSERT_TRUE(call("Tap", {QString(NBRPairSpecifierID)}));
    storeColour("abcdef");
    ASSERT_TRUE(call("Back"));
    ASSERT_TRUE(call("Tap", {QString(NBRPairSpecifierID)})) << "the page is back";
    ASSERT_TRUE(call("Back"));
    std::this_thread::sleep_for(500ms);
    file = stored();
    EXPECT_EQ(file->at(NBRLEDColorKey), PlistValue("abcdef"));
    EXPECT_EQ(file->at(NBRKeyboardKeymapKey), keymap);
    EXPECT_EQ(settings.stop(SIGTERM), 0);
}

} // namespace
