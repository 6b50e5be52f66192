#include "ChildProcess.h"
#include "NBRConstants.h"
#include "SettingsAppHarness.h"

#include <QColor>
#include <QImage>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using platform::PlistValue;
using platform::testing::ChildProcess;

namespace {

using SettingsHost = SettingsAppHarness;

TEST_F(SettingsHost, LoadsTheBundleStoresATapAndQuitsOnTerm) {
    seed({{NBRControllerTypeKey, 5}});
    ChildProcess observer(NOTIFYUTIL_PATH, {"-w", NBRPreferencesChangedNotification});
    ASSERT_TRUE(observer.waitForLine("ready"));
    const std::string shot = root_.path("/tmp/page.png");
    ChildProcess host(PREFERENCES_PATH, {"--open", "Nimbrel", "--tap", NBRForceExtendedSpecifierID,
                                         "--print-specifiers", "--screenshot", shot});
    ASSERT_TRUE(host.waitForLine("ready")) << host.output();

    EXPECT_NE(host.output().find("pair_label\tPair Controller\nforce_extended\tForce Extended "
                                 "Gamepad\n"),
              std::string::npos)
        << host.output();
    EXPECT_TRUE(observer.waitForLine(NBRPreferencesChangedNotification));
    auto file = root_.readPlist(NBRPreferencesPath);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->at(NBRForceExtendedGamepadKey).boolean(), true);
    EXPECT_EQ(file->at(NBRControllerTypeKey).integer(), 5) << "other keys survive the write";
    QImage image(QString::fromStdString(shot));
    EXPECT_GE(image.width(), 300);
    EXPECT_EQ(host.stop(SIGTERM), 0);
}

TEST_F(SettingsHost, TheColourRowShowsTheStoredColourAsASwatch) {
    seed({{NBRControllerTypeKey, 1}, {NBRLEDColorKey, "ff8000"}});
    const std::string shot = root_.path("/tmp/page.png");
    ChildProcess host(PREFERENCES_PATH, {"--open", "Nimbrel", "--screenshot", shot});
    ASSERT_TRUE(host.waitForLine("ready")) << host.output();
    QImage image(QString::fromStdString(shot));
    ASSERT_FALSE(image.isNull());
    // A 25-point square with rounded corners: most of its 625 pixels, and nothing else orange.
    QRect orange;
    int pixels = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == QColor(255, 128, 0)) {
                ++pixels;
                orange |= QRect(x, y, 1, 1);
            }
    EXPECT_GT(pixels, 400);
    EXPECT_LT(pixels, 560) << "rounded, not square";
    EXPECT_LE(orange.width(), 25);
    EXPECT_LE(orange.height(), 25);
    EXPECT_GT(orange.left(), image.width() - 60) << "at the row's right end";
    EXPECT_EQ(host.stop(SIGTERM), 0);
}

TEST_F(SettingsHost, AMissingBundleIsRefusedWithAReason) {
    ChildProcess host(PREFERENCES_PATH, {"--open", "Absent"});
    EXPECT_EQ(host.wait(std::chrono::seconds(10)), 1);
}

// Whatever lies at the preferences path, the page opens with its rows, a tap is handled and the
// Settings app ends cleanly; what the store makes of it depends on what it found.
TEST_F(SettingsHost, GarbageAFolderOrALinkAtThePreferencesPathLeavesThePageUsable) {
    const std::string path = root_.path(NBRPreferencesPath);
    auto runPage = [&] {
        ChildProcess host(PREFERENCES_PATH, {"--open", "Nimbrel", "--tap", "suppress_notification",
                                             "--print-specifiers"});
        EXPECT_TRUE(host.waitForLine("ready")) << host.output();
        EXPECT_NE(host.output().find("pair_label\t"), std::string::npos) << host.output();
        EXPECT_EQ(host.stop(SIGTERM), 0);
    };
    auto stored = [&] { return platform::readPlistDictionary(path); };

    // Unreadable bytes read as defaults; the store writes a whole new file.
    std::ofstream(path) << std::string("junk\0\xff", 6);
    runPage();
    ASSERT_TRUE(stored());
    EXPECT_EQ(stored()->at(NBRSuppressNotificationKey).boolean(), true);

    // A folder cannot be written over: it stays, with what it holds.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    std::ofstream(path + "/inside") << "kept";
    runPage();
    EXPECT_TRUE(std::filesystem::exists(path + "/inside"));
    std::filesystem::remove_all(path);

    // A link is read through; the store replaces the link, never the file it points to.
    const std::string elsewhere =
        platform::testing::placeLinkToPlist(path, {{NBRControllerTypeKey, 1}});
    ASSERT_FALSE(elsewhere.empty());
    runPage();
    ASSERT_TRUE(stored());
    EXPECT_FALSE(std::filesystem::is_symlink(path));
    EXPECT_EQ(stored()->at(NBRControllerTypeKey).integer(), 1);
    EXPECT_EQ(stored()->at(NBRSuppressNotificationKey).boolean(), true);
    EXPECT_EQ(platform::readPlistDictionary(elsewhere)->count(NBRSuppressNotificationKey), 0u);
}

// A pipe at the preferences path (or a link to one) once kept the page from opening and the
// Settings app from ending: it is read as no file and never written over.
TEST_F(SettingsHost, APipeOrALinkToOneAtThePreferencesPathNeitherHangsNorIsReplaced) {
    const std::string path = root_.path(NBRPreferencesPath);
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "a link to a pipe" : "a pipe");
        ASSERT_TRUE(platform::testing::placeFifo(path, linked));
        ChildProcess host(PREFERENCES_PATH, {"--open", "Nimbrel", "--tap", "suppress_notification",
                                             "--print-specifiers"});
        EXPECT_TRUE(host.waitForLine("ready")) << host.output();
        EXPECT_NE(host.output().find("pair_label\tE-mail Pairing Instructions"), std::string::npos)
            << "type 0, as with no file: " << host.output();
        EXPECT_EQ(host.stop(SIGTERM), 0);
        EXPECT_EQ(std::filesystem::symlink_status(path).type(),
                  linked ? std::filesystem::file_type::symlink : std::filesystem::file_type::fifo);
        EXPECT_EQ(std::filesystem::status(path).type(), std::filesystem::file_type::fifo);
    }
}

} // namespace
