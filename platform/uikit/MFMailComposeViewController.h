#pragma once

#include "UIViewController.h"

#include <QString>
#include <QStringList>
#include <optional>

class MFMailComposeViewController;
class QLineEdit;
class QProcess;
class QTextBrowser;

enum MFMailComposeResult {
    MFMailComposeResultCancelled = 0,
    MFMailComposeResultSaved = 1,
    MFMailComposeResultSent = 2,
    MFMailComposeResultFailed = 3,
};

class MFMailComposeViewControllerDelegate {
  public:
    virtual ~MFMailComposeViewControllerDelegate() = default;
    // The composer is done (sent, cancelled or failed); the delegate dismisses it.
    virtual void mailComposeControllerDidFinishWithResult(MFMailComposeViewController *controller,
                                                          MFMailComposeResult result,
                                                          const QString &error) = 0;
};

// A mail composer: recipients, subject and body the user can edit, "Cancel" and "Send". Mail
// leaves through the machine's sendmail, so the machine can send mail when it has one.
class MFMailComposeViewController : public UIViewController {
    Q_OBJECT
  public:
    explicit MFMailComposeViewController(QObject *parent = nullptr);
    ~MFMailComposeViewController() override;

    static bool canSendMail();
    // Tests decide the answer; nullopt goes back to asking the machine.
    static void setCanSendMailForTesting(std::optional<bool> canSend);

    void setMailComposeDelegate(MFMailComposeViewControllerDelegate *delegate) {
        delegate_ = delegate;
    }
    MFMailComposeViewControllerDelegate *mailComposeDelegate() const { return delegate_; }
    void setToRecipients(const QStringList &recipients);
    void setSubject(const QString &subject);
    void setMessageBody(const QString &body, bool isHTML);

    QStringList toRecipients() const;
    QString subject() const;
    QString messageBody() const { return body_; }
    bool isHTML() const { return html_; }

    // The buttons' actions.
    void cancel();
    void send();

  protected:
    void loadView() override;

  private:
    void finish(MFMailComposeResult result, const QString &error);
    MFMailComposeViewControllerDelegate *delegate_ = nullptr;
    QStringList recipients_;
    QString subject_;
    QString body_;
    bool html_ = false;
    QLineEdit *to_ = nullptr;
    QLineEdit *subjectField_ = nullptr;
    QTextBrowser *bodyView_ = nullptr;
    QProcess *sending_ = nullptr;
};
