// The pair button against the real processes: the page starts nbrdiscovery from the device
// root, the tool pairs against the BTstack simulator and reports on the messaging center that
// the page serves while it is on screen; a messagingutil holds the unlock, as SpringBoard does.
#include "ChildProcess.h"
#include "MFMailComposeViewController.h"
#include "NSNotificationCenter.h"
#include "NSTask.h"
#include "ScopedEnvironment.h"
#include "SettingsPageHarness.h"
#include "UIApplication.h"
#include "WidgetTestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <gmock/gmock.h>
#include <unistd.h>

NBR_WIDGET_TEST_ENVIRONMENT();

using namespace std::chrono_literals;
using platform::testing::ChildProcess;
using platform::testing::spinUntil;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

namespace {

const QString kActivating =
    "Activating Bluetooth...\nIf this takes too long, activate BTstack in its preferences.";
const QString kSearchingDualShock4 =
    "Searching...\nPress both the Share and PS buttons until your PS4 controller blinks.";
const QString kSearchingXHome =
    "Searching...\nHold the X and the HOME buttons until the SEARCH light blinks.";

QString success(const char *button) {
    return QString("Nimbrel|Success!\nController paired, you can go into a game now and press "
                   "%1 when prompted to do so (turn it off now if it keeps blinking).")
        .arg(button);
}

class Pairing : public SettingsPageHarness {
protected:
    void SetUp() override {
        unlocker_ = std::make_unique<ChildProcess>(
            MESSAGINGUTIL_PATH, std::vector<std::string>{"-u", NBRMessagingCenterName});
        ASSERT_TRUE(unlocker_->waitForLine("ready"));
        installTool();
    }
    void TearDown() override {
        // Every tool the page started has ended (the page interrupts them; a failed test
        // interrupts them here) before the next test starts its own.
        for (const auto &task : tasks_) {
            if (task->isRunning())
                ::kill(task->processIdentifier(), SIGINT);
            EXPECT_TRUE(spinUntil([&] { return !task->isRunning(); }, 10s));
            EXPECT_EQ(task->terminationStatus(), 0);
        }
        SettingsPageHarness::TearDown();
        MFMailComposeViewController::setCanSendMailForTesting(std::nullopt);
    }

    void installTool() {
        QDir().mkpath(QString::fromStdString(root_.path("/usr/bin")));
        ASSERT_EQ(::symlink(TOOL_PATH, root_.path(NBRDiscoveryToolPath).c_str()), 0);
    }
    void startSimulator(std::vector<std::string> arguments) {
        simulator_ = std::make_unique<ChildProcess>(SIMULATOR_PATH, std::move(arguments));
        ASSERT_TRUE(simulator_->waitForLine("ready"));
    }
    // Presses the pair button and keeps hold of the tool it started.
    void pair() {
        tap(NBRPairSpecifierID);
        if (page_->discoveryTask() && (tasks_.empty() || tasks_.back() != page_->discoveryTask()))
            tasks_.push_back(page_->discoveryTask());
    }
    bool hudReads(const QString &text, std::chrono::milliseconds timeout = 20s) {
        return spinUntil([&] { return page_->hud()->isShowing() && page_->hud()->text() == text; },
                         timeout);
    }

    std::unique_ptr<ChildProcess> unlocker_, simulator_;
    std::vector<std::shared_ptr<NSTask>> tasks_;
};

const std::string kPad = "address=1C:66:6D:01:02:03,";

TEST_F(Pairing, EachTypeFromTheTapToTheSuccessAlertNamingItsButton) {
    const std::vector<std::pair<int, const char *>> buttons = {
        {1, "PS"}, {2, "SYNC"}, {3, "X + HOME"}, {4, "X + HOME"}, {5, "X + HOME"}};
    // One channel for this class, so one success report per run.
    startSimulator({"--inquiry-unit", "100", "--device", kPad + "class=0x040508,pin=7391"});
    for (const auto &[type, button] : buttons) {
        SCOPED_TRACE(type);
        seed({{NBRControllerTypeKey, type}});
        open();
        pair();
        ASSERT_EQ(tasks_.size(), static_cast<std::size_t>(type));
        EXPECT_TRUE(page_->hud()->isShowing());
        EXPECT_EQ(page_->hud()->text(), kActivating);
        ASSERT_TRUE(waitForAlerts(1));
        EXPECT_THAT(alertMessages(), ElementsAre(success(button)));
        EXPECT_FALSE(page_->hud()->isShowing());
        EXPECT_EQ(UIAlertView::visibleAlerts()[0]->buttonTitles(), QStringList{"Dismiss"});
        // The page interrupted the tool; it ends by itself once it has shut Bluetooth down.
        EXPECT_TRUE(spinUntil([&] { return !tasks_.back()->isRunning(); }, 10s));
        EXPECT_EQ(tasks_.back()->terminationStatus(), 0);
        SettingsPageHarness::TearDown();
    }
}

// The tool reports the pairing once per channel; the person sees the run end once. A new run
// ends with an alert of its own.
TEST_F(Pairing, ADualShock4ReportsOncePerChannelAndGetsOneSuccessAlert) {
    startSimulator({"--inquiry-unit", "100", "--device", kPad + "class=0x002508,pin=5820"});
    seed({{NBRControllerTypeKey, 1}});
    open();
    pair();
    ASSERT_TRUE(waitForAlerts(1));
    // The tool ends after its last report, and the main queue runs what came before.
    ASSERT_TRUE(spinUntil([&] { return !tasks_.back()->isRunning(); }, 10s));
    spinUntil([] { return false; }, 300ms);
    EXPECT_THAT(alertMessages(), ElementsAre(success("PS")));
    EXPECT_FALSE(page_->hud()->isShowing());

    UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 2}});
    spinUntil([] { return false; }, 300ms);
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty()) << "a late report of an ended run";
    pair();
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre(success("PS")));
}

TEST_F(Pairing, WithoutBTstackTheAlertSaysSo) {
    seed({{NBRControllerTypeKey, 2}});
    open();
    pair();
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(),
                ElementsAre("Nimbrel|BTstack was not activated! Please try going to BTstack "
                            "preferences and activate it."));
    EXPECT_FALSE(page_->hud()->isShowing());
}

TEST_F(Pairing, LeavingThePageInterruptsTheSearchAndLeavesTheHudText) {
    startSimulator({"--inquiry-unit", "100"}); // nobody in range
    seed({{NBRControllerTypeKey, 3}});
    open();
    pair();
    ASSERT_TRUE(hudReads(kSearchingXHome));
    navigation_->pushViewController(new UIViewController, false);
    EXPECT_EQ(page_->discoveryMessagingCenter(), nullptr);
    EXPECT_TRUE(spinUntil([&] { return !tasks_.back()->isRunning(); }, 10s));
    EXPECT_TRUE(page_->hud()->isShowing());
    EXPECT_EQ(page_->hud()->text(), kSearchingXHome);
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
}

TEST_F(Pairing, PressingPairAgainInterruptsTheOldToolFirst) {
    startSimulator({"--inquiry-unit", "100"});
    seed({{NBRControllerTypeKey, 1}});
    open();
    pair();
    ASSERT_TRUE(hudReads(kSearchingDualShock4));
    pair();
    ASSERT_EQ(tasks_.size(), 2u);
    EXPECT_EQ(page_->hud()->text(), kActivating);
    EXPECT_TRUE(page_->hud()->isShowing());
    EXPECT_TRUE(spinUntil([&] { return !tasks_[0]->isRunning(); }, 10s));
    EXPECT_TRUE(tasks_[1]->isRunning());
    EXPECT_TRUE(simulator_->waitForLine("disconnected client=1"));
}

TEST_F(Pairing, GoingToTheBackgroundInterruptsTheToolAndHidesTheHud) {
    startSimulator({"--inquiry-unit", "100"});
    seed({{NBRControllerTypeKey, 1}});
    open();
    pair();
    ASSERT_TRUE(hudReads(kSearchingDualShock4));
    NSNotificationCenter::defaultCenter().postNotificationName(
        UIApplicationDidEnterBackgroundNotification, nullptr);
    EXPECT_FALSE(page_->hud()->isShowing());
    EXPECT_TRUE(spinUntil([&] { return !tasks_.back()->isRunning(); }, 10s));
}

TEST_F(Pairing, AMissingOrUnrunnableToolLeavesThePageUsable) {
    ASSERT_EQ(::unlink(root_.path(NBRDiscoveryToolPath).c_str()), 0);
    seed({{NBRControllerTypeKey, 1}});
    open();
    const QString missing = "Nimbrel|The pairing tool could not be started. Please reinstall "
                            "Nimbrel and try again.";
    for (int attempt = 0; attempt < 2; ++attempt) {
        SCOPED_TRACE(attempt);
        pair();
        EXPECT_EQ(page_->discoveryTask(), nullptr);
        EXPECT_FALSE(page_->hud()->isShowing());
        ASSERT_TRUE(waitForAlerts(1));
        EXPECT_THAT(alertMessages(), ElementsAre(missing));
        UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);
        // Now a file that is there but cannot be run.
        QFile plain(QString::fromStdString(root_.path(NBRDiscoveryToolPath)));
        ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
        plain.write("#!/bin/sh\n");
    }
}

TEST_F(Pairing, KeyboardAndPS3StartNoTool) {
    for (int type : {6, 0}) {
        SCOPED_TRACE(type);
        MFMailComposeViewController::setCanSendMailForTesting(true);
        seed({{NBRControllerTypeKey, type}});
        open();
        pair();
        EXPECT_EQ(page_->discoveryTask(), nullptr);
        EXPECT_FALSE(page_->hud()->isShowing());
        EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
        SettingsPageHarness::TearDown();
    }
}

TEST_F(Pairing, PS3InstructionsGoOutAsMailAndComeBackWhenDone) {
    MFMailComposeViewController::setCanSendMailForTesting(true);
    seed({{NBRControllerTypeKey, 0}});
    open();
    pair();
    auto *mail =
        qobject_cast<MFMailComposeViewController *>(navigation_->presentedViewController());
    ASSERT_NE(mail, nullptr);
    EXPECT_EQ(mail->mailComposeDelegate(), page_);
    EXPECT_TRUE(mail->isHTML());
    EXPECT_TRUE(mail->toRecipients().isEmpty());
    EXPECT_TRUE(mail->subject().isEmpty());
    const std::string body = mail->messageBody().toStdString();
    EXPECT_TRUE(body.starts_with("<p>") && body.ends_with("</p>"));
    EXPECT_THAT(body, HasSubstr("<h1>Pairing Your PS3 Controller</h1>"));
    EXPECT_THAT(body, HasSubstr("Note: this needs to be done only the first time"));
    std::size_t at = 0;
    for (const char *section :
         {"<h2>Mac OS X:</h2><ol>", "<h2>Windows:</h2><ol>", "<h2>Linux:</h2><ol>"}) {
        at = body.find(section, at);
        ASSERT_NE(at, std::string::npos) << section;
        const std::size_t end = body.find("</ol>", at);
        EXPECT_NE(body.rfind("<li>Done!</li>", end), std::string::npos) << section;
        EXPECT_GT(body.rfind("<li>Done!</li>", end), at) << section;
    }
    EXPECT_THAT(body, HasSubstr("Settings &gt; General &gt; About &gt; Bluetooth"));
    EXPECT_THAT(body, HasSubstr("first command-line parameter"));
    EXPECT_GT(body.rfind("<a href="), body.rfind("<h2>Linux:</h2>"));
    EXPECT_EQ(page_->discoveryTask(), nullptr);

    mail->cancel();
    EXPECT_EQ(navigation_->presentedViewController(), nullptr);
}

TEST_F(Pairing, WithoutMailThePS3InstructionsOpenInTheBrowser) {
    MFMailComposeViewController::setCanSendMailForTesting(false);
    UIApplication::setRecordsOnly(true);
    UIApplication::forgetOpenedURLs();
    seed({{NBRControllerTypeKey, 0}});
    open();
    pair();
    EXPECT_EQ(navigation_->presentedViewController(), nullptr);
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre("Your E-mail account is not configured|You are "
                                             "taken to a browser with pairing instructions."));
    EXPECT_TRUE(UIApplication::openedURLs().isEmpty());
    UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);
    EXPECT_THAT(
        UIApplication::openedURLs(),
        ElementsAre(QUrl::fromLocalFile(QString(BUNDLE_DIR) + "/PairingInstructions.html")));
}

// The page's browser fallback through the desktop's opener: a fake xdg-open on PATH records
// what it was given and answers with the status it is told to.
class InstructionsPage : public Pairing {
protected:
    void SetUp() override {
        Pairing::SetUp();
        MFMailComposeViewController::setCanSendMailForTesting(false);
        UIApplication::setRecordsOnly(false);
        ASSERT_TRUE(bin_.isValid());
        path_.set("PATH", bin_.path().toStdString());
        seed({{NBRControllerTypeKey, 0}});
        open();
    }
    void TearDown() override {
        UIApplication::setRecordsOnly(true);
        Pairing::TearDown();
    }
    void installOpener(int status) {
        QFile script(bin_.path() + "/xdg-open");
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QString("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '%1'\nexit %2\n")
                         .arg(opened(), QString::number(status))
                         .toUtf8());
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QString opened() const { return bin_.path() + "/opened"; }
    QString openedText() const {
        QFile file(opened());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    // The "no mail" alert, dismissed as a person does.
    void dismissTheNoMailAlert() {
        pair();
        ASSERT_TRUE(waitForAlerts(1));
        ASSERT_EQ(UIAlertView::visibleAlerts()[0]->title(),
                  "Your E-mail account is not configured");
        UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);
    }
    const QString pagePath_ = QString(BUNDLE_DIR) + "/PairingInstructions.html";

    QTemporaryDir bin_;
    platform::testing::ScopedEnvironment path_;
};

TEST_F(InstructionsPage, TheShippedPageIsHandedToTheDesktop) {
    ASSERT_TRUE(QFileInfo(pagePath_).isFile());
    QFile page(pagePath_);
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());
    EXPECT_THAT(html.toStdString(), HasSubstr("<h1>Pairing Your PS3 Controller</h1>"));
    // Every picture it shows ships beside it.
    static const QRegularExpression picture("src=\"([^\"]+)\"");
    int pictures = 0;
    for (const auto &match : picture.globalMatch(html)) {
        ++pictures;
        EXPECT_TRUE(QFileInfo(QString(BUNDLE_DIR) + '/' + match.captured(1)).isFile())
            << match.captured(1).toStdString();
    }
    EXPECT_GE(pictures, 3);

    installOpener(0);
    dismissTheNoMailAlert();
    ASSERT_TRUE(spinUntil([&] { return !openedText().isEmpty(); }, 10s));
    EXPECT_EQ(openedText(), QUrl::fromLocalFile(pagePath_).toString() + "\n");
    // Opened: nothing more to tell.
    spinUntil([] { return false; }, 300ms);
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
}

TEST_F(InstructionsPage, WithNothingToOpenItThePersonIsToldWhereTheFileIs) {
    const QString told = "Pairing Instructions|No browser could open the pairing instructions. "
                         "Open this file in one:\n" +
                         pagePath_;
    // No opener on PATH at all.
    dismissTheNoMailAlert();
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre(told));
    UIAlertView::visibleAlerts()[0]->dismissWithClickedButtonIndex(0, false);

    // An opener that finds no browser, as xdg-open then ends.
    installOpener(3);
    dismissTheNoMailAlert();
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre(told));
    EXPECT_EQ(openedText(), QUrl::fromLocalFile(pagePath_).toString() + "\n");
}

TEST_F(Pairing, TheBrowserFallbackOutlivingItsPageOpensNothing) {
    MFMailComposeViewController::setCanSendMailForTesting(false);
    UIApplication::setRecordsOnly(true);
    UIApplication::forgetOpenedURLs();
    seed({{NBRControllerTypeKey, 0}});
    // The page over a screen of its own, so that going back deletes the page and keeps the window.
    page_ = new NimbrelListController;
    page_->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
    navigation_ = new UINavigationController(new UIViewController);
    navigation_->view()->resize(390, 900);
    navigation_->viewWillAppear(false);
    navigation_->view()->show();
    navigation_->viewDidAppear(false);
    navigation_->pushViewController(page_, false);
    pair();
    ASSERT_TRUE(waitForAlerts(1));
    QPointer<UIAlertView> alert = UIAlertView::visibleAlerts()[0];
    QPointer<NimbrelListController> page = page_;
    navigation_->popViewControllerAnimated(false);
    page_ = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(page.isNull());
    ASSERT_FALSE(alert.isNull()) << "the page goes, its alert stays over the window";
    EXPECT_EQ(alert->coveredWindow(), navigation_->view());
    alert->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(UIApplication::openedURLs().isEmpty());
}

TEST_F(Pairing, SearchPromptsFollowTheTypeAndLeaveOtherTypesAlone) {
    seed({{NBRControllerTypeKey, 6}});
    open();
    page_->hud()->setText("as it was");
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 0}});
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 1}});
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 9}});
    QCoreApplication::processEvents();
    EXPECT_EQ(page_->hud()->text(), "as it was") << "deferred to the main queue, then ignored";
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());

    seed({{NBRControllerTypeKey, 2}});
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {}); // no state reads as 0
    EXPECT_EQ(page_->hud()->text(), "as it was") << "not before the main queue runs";
    EXPECT_TRUE(spinUntil([&] {
        return page_->hud()->text() ==
               "Searching..\nPress the red SYNC button on the back of your controller.";
    }));
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 4}});
    EXPECT_TRUE(spinUntil(
        [&] { return page_->hud()->text() == "Starting Search...\nPrepare your controller."; }));

    // Only a stored type out of range starts the tool with such a type.
    seed({{NBRControllerTypeKey, 9}});
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, 2}});
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre(success("any button")));
}

// A state sent as text (by a tool other than ours) reads as the platform reads text: "2" is
// the success, as the number 2 is.
TEST_F(Pairing, AStateSentAsTextReadsAsItsNumber) {
    seed({{NBRControllerTypeKey, 2}});
    open();
    page_->handlePairingMessage(NBRDiscoveryUpdateMessage, {{NBRDiscoveryStateKey, "2"}});
    ASSERT_TRUE(waitForAlerts(1));
    EXPECT_THAT(alertMessages(), ElementsAre(success("SYNC")));
}

} // namespace
