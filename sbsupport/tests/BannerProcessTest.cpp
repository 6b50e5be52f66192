#include "ChildProcess.h"
#include "NBRConstants.h"
#include "PlistValue.h"
#include "PrivateSessionBus.h"
#include "TestDeviceRoot.h"
#include "notify.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using platform::PlistValue;
using platform::testing::ChildProcess;

namespace {

// A banner as the recording server prints it, without its id. With no installed application
// for the section, the banner is headed "Nimbrel" with a stock icon.
std::string banner(const std::string &body, const std::string &section = "",
                   const std::string &application = "Nimbrel",
                   const std::string &icon = "input-gaming") {
    return "Notify app_name=\"" + application + "\" summary=\"" + application + "\" body=\"" +
           body + "\" app_icon=\"" + icon + "\" expire_timeout=5000 desktop_entry=\"" + section +
           "\"";
}

const std::string kPSText = "Searching for a controller. Press the PS button.";
const std::string kSyncText = "Searching for a controller. Press the SYNC button.";
const std::string kXHomeText = "Searching for a controller. Press X + HOME.";
const std::string kConnectedText = "Connected to a controller.";

} // namespace

// A SpringBoard stand-in with the plug-in installed, a recording notification server, and a
// bus and device root of the test's own.
class BannerProcessTest : public ::testing::Test {
protected:
    BannerProcessTest() {
        root_.addSpringBoardPlugin(PLUGIN_PATH);
        recorder_ = std::make_unique<ChildProcess>(RECORDER_PATH, std::vector<std::string>{});
        EXPECT_TRUE(recorder_->waitForLine("ready"));
    }

    void startSpringBoard(std::vector<std::string> arguments = {}) {
        springBoard_ = std::make_unique<ChildProcess>(SPRINGBOARD_PATH, std::move(arguments));
        ASSERT_TRUE(springBoard_->waitForLine("ready"));
    }

    void writePreferences(const PlistValue::Dictionary &preferences) {
        ASSERT_TRUE(
            root_.writePlist(NBRPreferencesPath, preferences, platform::PlistFormat::Binary));
    }
    void changePreferences(const PlistValue::Dictionary &preferences) {
        writePreferences(preferences);
        post(NBRPreferencesChangedNotification);
    }
    static void post(const char *name) { ASSERT_EQ(notify_post(name), NOTIFY_STATUS_OK); }

    static bool call(const char *service, const char *path, const char *interface,
                     const char *member, const QVariantList &arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, member);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message, QDBus::Block, 10000).type() ==
               QDBusMessage::ReplyMessage;
    }
    static void setFrontMost(const QVariantMap &answers) {
        ASSERT_TRUE(call("platform.springboard", "/SpringBoard", "platform.springboard.Control",
                         "SetFrontMostApplication", {answers}));
    }
    static void goHome() {
        ASSERT_TRUE(
            call("platform.springboard", "/SpringBoard", "platform.springboard.Control", "GoHome"));
    }

    // The banners shown since the last call. SpringBoard handles what was posted in order and
    // sends each Notify before it answers Sync; the server logs each Notify before it answers
    // the next call. So after both answers every banner of the posts so far is in the log.
    std::vector<std::string> banners() {
        EXPECT_TRUE(
            call("platform.springboard", "/SpringBoard", "platform.springboard.Control", "Sync"));
        EXPECT_TRUE(call("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                         "org.freedesktop.Notifications", "GetCapabilities"));
        std::vector<std::string> lines;
        const std::string &output = recorder_->output();
        std::size_t start = 0;
        for (std::size_t end; (end = output.find('\n', start)) != std::string::npos;
             start = end + 1) {
            std::string line = output.substr(start, end - start);
            if (line.rfind("Notify id=", 0) != 0)
                continue;
            // The id is the server's business; what the plug-in chose is the rest.
            line.erase(7, line.find(' ', 7) - 6);
            lines.push_back(line);
        }
        std::vector<std::string> fresh(lines.begin() + static_cast<long>(seen_), lines.end());
        seen_ = lines.size();
        return fresh;
    }

    platform::testing::PrivateSessionBus bus_;
    platform::testing::TestDeviceRoot root_;
    std::unique_ptr<ChildProcess> recorder_;
    std::unique_ptr<ChildProcess> springBoard_;
    std::size_t seen_ = 0;
};

TEST_F(BannerProcessTest, EachControllerEventGivesExactlyOneBannerWithItsText) {
    startSpringBoard();
    // No preferences file: banners on, type 0.
    post(NBRSearchingNotification);
    post(NBRControllerDetectedNotification);
    post(NBRControllerDetectedNotification);
    post(NBRInitBluetoothNotification);
    post(NBRDisconnectedNotification);
    post(NBRFailureNotification);
    post(NBRPreferencesChangedNotification);
    const std::vector<std::string> expected = {
        banner(kPSText),
        banner(kConnectedText),
        banner(kConnectedText),
        banner("Initializing Bluetooth, prepare your controller."),
        banner("Controller disconnected."),
        banner("Cannot connect to BTstack, please reinstall BTstack/reboot your device.")};
    EXPECT_EQ(banners(), expected);
}

TEST_F(BannerProcessTest, SearchingTextFollowsTheControllerTypeOfTheLastReload) {
    startSpringBoard();
    const std::vector<std::pair<int, std::string>> cases = {
        {0, kPSText}, {1, kPSText}, {2, kSyncText}, {3, kXHomeText},
        {4, kPSText}, {5, kPSText}, {6, kPSText},   {0x100000003, kXHomeText}};
    for (const auto &[type, text] : cases) {
        changePreferences({{NBRControllerTypeKey, PlistValue(type)}});
        post(NBRSearchingNotification);
        EXPECT_EQ(banners(), std::vector<std::string>{banner(text)}) << "type " << type;
    }
}

// Text or a real where a number or a switch belongs (a file written by hand) reads as the
// platform reads it, as the settings page does: "3" is 3, 5.9 is 5, "YES" on and "NO" off.
TEST_F(BannerProcessTest, TextAndRealsReadAsThePlatformReadsThem) {
    startSpringBoard();
    const std::vector<std::pair<PlistValue, std::string>> types = {
        {PlistValue("3"), kXHomeText},  {PlistValue(" 2 pads"), kSyncText},
        {PlistValue(3.99), kXHomeText}, {PlistValue(5.9), kPSText},
        {PlistValue("x3"), kPSText},    {PlistValue(PlistValue::Data{3}), kPSText}};
    for (const auto &[type, text] : types) {
        changePreferences({{NBRControllerTypeKey, type}});
        post(NBRSearchingNotification);
        EXPECT_EQ(banners(), std::vector<std::string>{banner(text)}) << text;
    }
    for (const char *on : {"YES", "true", "1"}) {
        changePreferences({{NBRSuppressNotificationKey, on}});
        post(NBRControllerDetectedNotification);
        EXPECT_TRUE(banners().empty()) << on;
    }
    for (const char *off : {"NO", "false", "0", ""}) {
        changePreferences({{NBRSuppressNotificationKey, off}});
        post(NBRControllerDetectedNotification);
        EXPECT_EQ(banners(), std::vector<std::string>{banner(kConnectedText)}) << off;
    }
}

TEST_F(BannerProcessTest, GarbageAFolderOrALinkReadsAsDefaultsOrThroughTheLink) {
    startSpringBoard();
    const std::string path = root_.path(NBRPreferencesPath);
    auto searchingBanner = [&] {
        post(NBRPreferencesChangedNotification);
        post(NBRSearchingNotification);
        return banners();
    };
    changePreferences({{NBRControllerTypeKey, PlistValue(2)}, {NBRSuppressNotificationKey, true}});
    std::filesystem::remove(path);
    std::ofstream(path) << std::string("bplist00\xff\0junk", 14);
    EXPECT_EQ(searchingBanner(), std::vector<std::string>{banner(kPSText)}) << "garbage";

    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    EXPECT_EQ(searchingBanner(), std::vector<std::string>{banner(kPSText)}) << "a folder";
    std::filesystem::remove(path);

    const std::string elsewhere =
        platform::testing::placeLinkToPlist(path, {{NBRControllerTypeKey, 3}});
    ASSERT_FALSE(elsewhere.empty());
    EXPECT_EQ(searchingBanner(), std::vector<std::string>{banner(kXHomeText)}) << "a link";
    EXPECT_TRUE(springBoard_->running());
}

// A pipe waits for a writer when opened for reading: SpringBoard must come up regardless, with
// the defaults, and leave the pipe where it is.
TEST_F(BannerProcessTest, APipeOrALinkToOneAtThePreferencesPathReadsAsDefaultsWithoutWaiting) {
    const std::string path = root_.path(NBRPreferencesPath);
    for (const bool linked : {false, true}) {
        SCOPED_TRACE(linked ? "a link to a pipe" : "a pipe");
        ASSERT_TRUE(platform::testing::placeFifo(path, linked));
        startSpringBoard();
        post(NBRPreferencesChangedNotification);
        post(NBRSearchingNotification);
        EXPECT_EQ(banners(), std::vector<std::string>{banner(kPSText)});
        EXPECT_EQ(springBoard_->stop(), 0);
        EXPECT_EQ(std::filesystem::symlink_status(path).type(),
                  linked ? std::filesystem::file_type::symlink : std::filesystem::file_type::fifo);
    }
}

TEST_F(BannerProcessTest, SuppressSwitchTakesEffectOnlyWithTheChangedNotification) {
    startSpringBoard();
    changePreferences({{NBRSuppressNotificationKey, PlistValue(true)}});
    post(NBRControllerDetectedNotification);
    post(NBRSearchingNotification);
    EXPECT_TRUE(banners().empty());

    // Written but not announced: still suppressed; and the type stays as it was.
    writePreferences(
        {{NBRSuppressNotificationKey, PlistValue(false)}, {NBRControllerTypeKey, PlistValue(2)}});
    post(NBRControllerDetectedNotification);
    EXPECT_TRUE(banners().empty());

    post(NBRPreferencesChangedNotification);
    post(NBRControllerDetectedNotification);
    post(NBRSearchingNotification);
    EXPECT_EQ(banners(), (std::vector<std::string>{banner(kConnectedText), banner(kSyncText)}));

    writePreferences(
        {{NBRSuppressNotificationKey, PlistValue(true)}, {NBRControllerTypeKey, PlistValue(3)}});
    post(NBRSearchingNotification);
    EXPECT_EQ(banners(), std::vector<std::string>{banner(kSyncText)});
}

TEST_F(BannerProcessTest, SectionIsTheFrontMostApplicationsIdentifier) {
    startSpringBoard();
    auto shown = [&] {
        post(NBRControllerDetectedNotification);
        auto lines = banners();
        return lines.size() == 1 ? lines[0] : "";
    };
    EXPECT_EQ(shown(), banner(kConnectedText)); // home screen
    setFrontMost({{"displayIdentifier", "com.example.game"}, {"bundleIdentifier", "com.b"}});
    EXPECT_EQ(shown(), banner(kConnectedText, "com.example.game"));
    // A display identifier of none falls through to the bundle identifier.
    setFrontMost({{"displayIdentifier", false}, {"bundleIdentifier", "com.example.bundle"}});
    EXPECT_EQ(shown(), banner(kConnectedText, "com.example.bundle"));
    setFrontMost({{"bundleIdentifier", "com.example.only"}});
    EXPECT_EQ(shown(), banner(kConnectedText, "com.example.only"));
    setFrontMost({{"bundleIdentifier", false}});
    EXPECT_EQ(shown(), banner(kConnectedText));
    setFrontMost({});
    EXPECT_EQ(shown(), banner(kConnectedText));
    setFrontMost({{"displayIdentifier", "com.example.game"}});
    goHome();
    EXPECT_EQ(shown(), banner(kConnectedText));
}

TEST_F(BannerProcessTest, AnInstalledApplicationInFrontHeadsTheBannerWithItsNameAndIcon) {
    for (const char *folder : {"/Applications/Game.app", "/Applications/Tool.app"})
        std::filesystem::create_directories(root_.path(folder));
    ASSERT_TRUE(root_.writePlist("/Applications/Game.app/Info.plist",
                                 {{"CFBundleIdentifier", PlistValue("com.example.game")},
                                  {"CFBundleDisplayName", PlistValue("Space Race")},
                                  {"CFBundleIconFile", PlistValue("Icon.png")}}));
    std::ofstream(root_.path("/Applications/Game.app/Icon.png")) << "png";
    // Only a bundle name, and an icon file that is not there.
    ASSERT_TRUE(root_.writePlist("/Applications/Tool.app/Info.plist",
                                 {{"CFBundleIdentifier", PlistValue("com.example.tool")},
                                  {"CFBundleName", PlistValue("Toolbox")},
                                  {"CFBundleIconFile", PlistValue("Missing.png")}}));
    startSpringBoard();
    setFrontMost({{"displayIdentifier", "com.example.game"}});
    post(NBRControllerDetectedNotification);
    setFrontMost({{"bundleIdentifier", "com.example.tool"}});
    post(NBRDisconnectedNotification);
    const std::vector<std::string> expected = {
        banner(kConnectedText, "com.example.game", "Space Race",
               root_.path("/Applications/Game.app/Icon.png")),
        banner("Controller disconnected.", "com.example.tool", "Toolbox")};
    EXPECT_EQ(banners(), expected);
}

TEST_F(BannerProcessTest, FrontMostApplicationFromTheCommandLine) {
    startSpringBoard({"--front-most", "bundleIdentifier=com.example.start"});
    post(NBRDisconnectedNotification);
    EXPECT_EQ(banners(),
              std::vector<std::string>{banner("Controller disconnected.", "com.example.start")});
}

TEST_F(BannerProcessTest, LeftoverTemporarySiblingKeepsTheReReadGoingUntilItIsGone) {
    writePreferences({{NBRControllerTypeKey, PlistValue(2)}});
    startSpringBoard();
    const std::string leftover = root_.path(NBRPreferencesPath) + ".tmp.leftover";
    std::ofstream(leftover) << "partial";
    post(NBRPreferencesChangedNotification);
    // Not announced: only the once-a-second re-read can bring type 3 in.
    writePreferences({{NBRControllerTypeKey, PlistValue(3)}});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::string last;
    while (last != banner(kXHomeText) && std::chrono::steady_clock::now() < deadline) {
        post(NBRSearchingNotification);
        auto lines = banners();
        ASSERT_EQ(lines.size(), 1u);
        last = lines[0];
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(last, banner(kXHomeText));

    // Once the leftover is gone, the re-read in flight is the last one.
    std::filesystem::remove(leftover);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    writePreferences({{NBRControllerTypeKey, PlistValue(2)}});
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    post(NBRSearchingNotification);
    EXPECT_EQ(banners(), std::vector<std::string>{banner(kXHomeText)});
}

TEST_F(BannerProcessTest, WithoutTheBannerControllerClassNothingIsShownAndNothingBreaks) {
    startSpringBoard({"--without-class", "SBBulletinBannerController"});
    post(NBRControllerDetectedNotification);
    post(NBRFailureNotification);
    EXPECT_TRUE(banners().empty());
    EXPECT_TRUE(springBoard_->running());
    EXPECT_EQ(springBoard_->stop(), 0);
}

TEST_F(BannerProcessTest, UnlockReachesTheListenerOnlyWhileSpringBoardRuns) {
    ChildProcess listener(MESSAGINGUTIL_PATH,
                          {"-s", "-b", NBRMessagingCenterName, NBRDiscoveryUpdateMessage});
    ASSERT_TRUE(listener.waitForLine("ready"));
    // As the pairing tool sends: the bootstrap center and its progress message.
    auto send = [](const std::string &state) {
        ChildProcess client(MESSAGINGUTIL_PATH,
                            {"-p", "-b", NBRMessagingCenterName, NBRDiscoveryUpdateMessage,
                             std::string(NBRDiscoveryStateKey) + "=i:" + state,
                             std::string(NBRBluetoothAddressKey) + "=d:0a0b0c0d0e0f"});
        return client.wait(std::chrono::seconds(10));
    };
    EXPECT_EQ(send("4"), 1); // locked: nothing handed over
    startSpringBoard();
    EXPECT_EQ(send("2"), 0);
    EXPECT_TRUE(listener.waitForLine("NBRDiscoveryUpdate NBRDiscoveryState=i:2 "
                                     "PS4BluetoothAddress=d:0a0b0c0d0e0f"));
    EXPECT_EQ(springBoard_->stop(), 0);
    EXPECT_EQ(send("0"), 1);
    EXPECT_EQ(listener.output(), "ready\nNBRDiscoveryUpdate NBRDiscoveryState=i:2 "
                                 "PS4BluetoothAddress=d:0a0b0c0d0e0f\n");
}
