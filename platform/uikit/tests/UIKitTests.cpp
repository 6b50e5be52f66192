#include "MFMailComposeViewController.h"
#include "NSNotificationCenter.h"
#include "UIAlertView.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UIProgressHUD.h"
#include "WidgetTestEnvironment.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

NBR_WIDGET_TEST_ENVIRONMENT_WITH(UIApplication);

using ::testing::ElementsAre;

class Screen : public UIViewController {
    Q_OBJECT
public:
    Screen(std::string name, std::vector<std::string> *log) : name_(std::move(name)), log_(log) {
        setTitle(QString::fromStdString(name_));
    }
    void viewWillAppear(bool) override { log_->push_back(name_ + " will appear"); }
    void viewDidAppear(bool) override { log_->push_back(name_ + " did appear"); }
    void viewWillDisappear(bool) override { log_->push_back(name_ + " will disappear"); }
    void viewDidDisappear(bool) override { log_->push_back(name_ + " did disappear"); }
    Q_INVOKABLE void ping() { log_->push_back(name_ + " ping"); }

private:
    std::string name_;
    std::vector<std::string> *log_;
};

namespace {

TEST(Presentation, CoversThePresenterUntilDismissedFromEitherSide) {
    std::vector<std::string> log;
    auto *root = new Screen("root", &log);
    UINavigationController navigation(root);
    navigation.view()->resize(320, 480);
    navigation.view()->show();
    log.clear();
    QPointer<Screen> sheet = new Screen("sheet", &log);
    bool completed = false;
    navigation.presentViewController(sheet, true, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(navigation.presentedViewController(), sheet.data());
    EXPECT_EQ(sheet->presentingViewController(), &navigation);
    EXPECT_EQ(sheet->view()->geometry(), navigation.view()->rect());
    EXPECT_TRUE(sheet->view()->isVisible());
    Screen second("second", &log);                    // refused, so still the test's own
    navigation.presentViewController(&second, false); // one at a time
    EXPECT_EQ(navigation.presentedViewController(), sheet.data());
    EXPECT_THAT(log, ElementsAre("sheet will appear", "sheet did appear"));

    // A screen inside the navigation stack asks; the navigation controller dismisses.
    log.clear();
    root->dismissViewControllerAnimated(true);
    EXPECT_EQ(navigation.presentedViewController(), nullptr);
    EXPECT_THAT(log, ElementsAre("sheet will disappear", "sheet did disappear"));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(sheet.isNull());
    root->dismissViewControllerAnimated(true); // nothing left: harmless
}

TEST(MailComposer, KeepsWhatItWasGivenAndReportsCancel) {
    struct Delegate : MFMailComposeViewControllerDelegate {
        std::vector<MFMailComposeResult> results;
        void mailComposeControllerDidFinishWithResult(MFMailComposeViewController *,
                                                      MFMailComposeResult result,
                                                      const QString &) override {
            results.push_back(result);
        }
    } delegate;
    MFMailComposeViewController mail;
    mail.setMailComposeDelegate(&delegate);
    mail.setMessageBody("<p><h1>Title</h1>text</p>", true);
    mail.setToRecipients({"a@example.org"});
    auto *body = mail.view()->findChild<QTextBrowser *>();
    ASSERT_NE(body, nullptr);
    EXPECT_EQ(body->toPlainText().trimmed(), "Title\ntext");
    EXPECT_EQ(mail.toRecipients(), QStringList{"a@example.org"});
    mail.view()->findChild<QPushButton *>("cancelButton")->click();
    EXPECT_THAT(delegate.results, ElementsAre(MFMailComposeResultCancelled));
}

TEST(NavigationController, TellsEachScreenWhenItComesAndGoesInOrder) {
    std::vector<std::string> log;
    auto *root = new Screen("root", &log);
    UINavigationController navigation(root);
    navigation.view();
    navigation.viewWillAppear(false);
    navigation.viewDidAppear(false);
    auto *detail = new Screen("detail", &log);
    navigation.pushViewController(detail, true);
    EXPECT_EQ(navigation.topViewController(), detail);
    EXPECT_EQ(detail->navigationController(), &navigation);
    auto *back = navigation.view()->findChild<QPushButton *>();
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(back->text().endsWith("root"));
    back->click();
    EXPECT_EQ(navigation.topViewController(), root);
    EXPECT_EQ(navigation.popViewControllerAnimated(false), nullptr) << "the root stays";
    EXPECT_THAT(log, ElementsAre("root will appear", "root did appear", "root will disappear",
                                 "detail will appear", "root did disappear", "detail did appear",
                                 "detail will disappear", "root will appear",
                                 "detail did disappear", "root did appear"));
}

class Recorder : public UIAlertViewDelegate {
public:
    void alertViewDidDismissWithButtonIndex(UIAlertView *alert, int index) override {
        dismissed.emplace_back(alert->title(), index);
    }
    std::vector<std::pair<QString, int>> dismissed;
};

TEST(AlertView, IsListedWhileShownAndTellsItsDelegateOnce) {
    Recorder recorder;
    auto *alert = new UIAlertView("Title", "Message", &recorder, "Dismiss");
    alert->show();
    alert->show();
    ASSERT_EQ(UIAlertView::visibleAlerts().size(), 1);
    EXPECT_EQ(UIAlertView::visibleAlerts()[0]->buttonTitles(), QStringList{"Dismiss"});
    alert->findChild<QPushButton *>()->click();
    alert->dismissWithClickedButtonIndex(0, false);
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
    ASSERT_EQ(recorder.dismissed.size(), 1u);
    EXPECT_EQ(recorder.dismissed[0].first, "Title");
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(AlertView, IsTallEnoughForALongMessage) {
    auto *alert = new UIAlertView(
        "Nimbrel",
        "Success!\nController paired, you can go into a game now and press PS when prompted to do "
        "so (turn it off now if it keeps blinking).",
        nullptr, "Dismiss");
    alert->show();
    QCoreApplication::processEvents();
    for (QLabel *label : alert->findChildren<QLabel *>())
        EXPECT_GE(label->height(), label->heightForWidth(label->width()))
            << label->text().toStdString();
    alert->dismissWithClickedButtonIndex(0, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(AlertView, TwoAlertsSitCentredOverTheWindowWhichTheyDimAndShield) {
    QWidget window;
    window.resize(390, 720);
    auto *page = new QPushButton("page", &window);
    page->setGeometry(0, 0, 390, 720);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint middle(195, 360);
    ASSERT_EQ(window.childAt(middle), page);

    auto *first = new UIAlertView("Nimbrel", "Success!", nullptr, "Dismiss");
    auto *second = new UIAlertView("Nimbrel",
                                   "Success!\nA longer second message that wraps onto "
                                   "more lines than the first.",
                                   nullptr, "Dismiss");
    first->show();
    second->show();
    QCoreApplication::processEvents();
    for (UIAlertView *alert : {first, second}) {
        EXPECT_FALSE(alert->isWindow());
        EXPECT_EQ(alert->parentWidget(), &window);
        EXPECT_EQ(alert->geometry().center(), window.rect().center()) << alert->height();
    }
    // The newest is on top; under the alerts the page is dimmed and takes no touch.
    EXPECT_TRUE(second->isAncestorOf(window.childAt(second->geometry().topLeft() + QPoint(5, 5))) ||
                window.childAt(second->geometry().topLeft() + QPoint(5, 5)) == second);
    QWidget *corner = window.childAt(10, 10);
    ASSERT_NE(corner, nullptr);
    EXPECT_NE(corner, page);
    EXPECT_EQ(corner->geometry(), window.rect());

    // Centred still when the window changes size.
    window.resize(500, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(first->geometry().center(), window.rect().center());

    second->dismissWithClickedButtonIndex(0, false);
    first->dismissWithClickedButtonIndex(0, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(window.childAt(10, 10), page);
}

TEST(AlertView, GoesUnansweredWithTheWindowItCoversAndLeavesTheNextWindowItsOwn) {
    Recorder recorder;
    auto *window = new QWidget;
    window->resize(390, 720);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QPointer<UIAlertView> first = new UIAlertView("First", "", &recorder, "Dismiss");
    QPointer<UIAlertView> second = new UIAlertView("Second", "", &recorder, "Dismiss");
    first->show();
    second->show();
    ASSERT_EQ(first->coveredWindow(), window);
    ASSERT_EQ(second->coveredWindow(), window);

    delete window;
    EXPECT_TRUE(first.isNull());
    EXPECT_TRUE(second.isNull());
    EXPECT_TRUE(UIAlertView::visibleAlerts().isEmpty());
    EXPECT_TRUE(recorder.dismissed.empty()) << "no button was pressed";

    // What the application does next meets none of it: a new window is dimmed only while its
    // own alert is up, and that alert answers as any other.
    QWidget next;
    next.resize(390, 720);
    auto *page = new QPushButton("page", &next);
    page->setGeometry(next.rect());
    next.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&next));
    auto *third = new UIAlertView("Third", "", &recorder, "Dismiss");
    third->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(third->coveredWindow(), &next);
    EXPECT_NE(next.childAt(10, 10), page);
    ASSERT_EQ(UIAlertView::visibleAlerts(), QList<UIAlertView *>{third});
    third->dismissWithClickedButtonIndex(0, false);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(next.childAt(10, 10), page);
    ASSERT_EQ(recorder.dismissed.size(), 1u);
    EXPECT_EQ(recorder.dismissed[0].first, "Third");
}

TEST(ProgressHUD, KeepsItsTextAcrossHideAndShow) {
    QWidget host;
    host.resize(320, 480);
    UIProgressHUD hud;
    hud.setText("Starting");
    hud.showInView(&host);
    EXPECT_TRUE(hud.isShowing());
    EXPECT_EQ(hud.parentWidget(), &host);
    hud.hide();
    EXPECT_FALSE(hud.isShowing());
    EXPECT_EQ(hud.text(), "Starting");
    hud.setParent(nullptr);
}

TEST(NotificationCenter, DeliversToLiveObserversOfThatNameOnly) {
    std::vector<std::string> log;
    auto *first = new Screen("first", &log);
    Screen second("second", &log);
    auto &center = NSNotificationCenter::defaultCenter();
    center.addObserver(first, "ping", "Event", nullptr);
    center.addObserver(&second, "ping", "Other", nullptr);
    center.addObserver(&second, "absent", "Event", nullptr);
    center.postNotificationName("Event", nullptr);
    delete first;
    center.postNotificationName("Event", nullptr);
    center.removeObserver(&second);
    center.postNotificationName("Other", nullptr);
    EXPECT_THAT(log, ElementsAre("first ping"));
}

} // namespace

#include "UIKitTests.moc"
