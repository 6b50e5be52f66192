#include "MFMailComposeViewController.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace {

std::optional<bool> &testAnswer() {
    static std::optional<bool> answer;
    return answer;
}

QString sendmailPath() {
    for (const char *path : {"/usr/sbin/sendmail", "/usr/lib/sendmail"}) {
        QFileInfo file(path);
        if (file.isFile() && file.isExecutable())
            return path;
    }
    return {};
}

} // namespace

MFMailComposeViewController::MFMailComposeViewController(QObject *parent)
    : UIViewController(parent) {}

MFMailComposeViewController::~MFMailComposeViewController() = default;

bool MFMailComposeViewController::canSendMail() {
    if (testAnswer())
        return *testAnswer();
    return !sendmailPath().isEmpty();
}

void MFMailComposeViewController::setCanSendMailForTesting(std::optional<bool> canSend) {
    testAnswer() = canSend;
}

void MFMailComposeViewController::setToRecipients(const QStringList &recipients) {
    recipients_ = recipients;
    if (to_)
        to_->setText(recipients.join(", "));
}

void MFMailComposeViewController::setSubject(const QString &subject) {
    subject_ = subject;
    if (subjectField_)
        subjectField_->setText(subject);
}

void MFMailComposeViewController::setMessageBody(const QString &body, bool isHTML) {
    body_ = body;
    html_ = isHTML;
    if (bodyView_) {
        if (isHTML)
            bodyView_->setHtml(body);
        else
            bodyView_->setPlainText(body);
    }
}

QStringList MFMailComposeViewController::toRecipients() const {
    if (!to_)
        return recipients_;
    QStringList all;
    for (const QString &address : to_->text().split(',', Qt::SkipEmptyParts))
        all.append(address.trimmed());
    return all;
}

QString MFMailComposeViewController::subject() const {
    return subjectField_ ? subjectField_->text() : subject_;
}

void MFMailComposeViewController::loadView() {
    auto *view = new QWidget;
    view->setObjectName("mailComposer");
    view->setAutoFillBackground(true);
    view->setStyleSheet("#mailComposer { background: white; }");
    auto *layout = new QVBoxLayout(view);
    layout->setContentsMargins(8, 4, 8, 8);
    auto *bar = new QHBoxLayout;
    auto *cancelButton = new QPushButton("Cancel");
    cancelButton->setObjectName("cancelButton");
    auto *sendButton = new QPushButton("Send");
    sendButton->setObjectName("sendButton");
    for (QPushButton *button : {cancelButton, sendButton}) {
        button->setFlat(true);
        button->setStyleSheet("QPushButton { color: #007aff; border: none; font-size: 15px; }");
    }
    auto *title = new QLabel("New Message");
    title->setAlignment(Qt::AlignCenter);
    title->setStyleSheet("font-size: 16px; font-weight: bold;");
    bar->addWidget(cancelButton);
    bar->addWidget(title, 1);
    bar->addWidget(sendButton);
    layout->addLayout(bar);
    to_ = new QLineEdit(recipients_.join(", "));
    to_->setPlaceholderText("To:");
    subjectField_ = new QLineEdit(subject_);
    subjectField_->setPlaceholderText("Subject:");
    bodyView_ = new QTextBrowser;
    bodyView_->setOpenExternalLinks(true);
    layout->addWidget(to_);
    layout->addWidget(subjectField_);
    layout->addWidget(bodyView_, 1);
    setMessageBody(body_, html_);
    connect(cancelButton, &QPushButton::clicked, this, &MFMailComposeViewController::cancel);
    connect(sendButton, &QPushButton::clicked, this, &MFMailComposeViewController::send);
    setView(view);
}

void MFMailComposeViewController::cancel() {
    if (!sending_)
        finish(MFMailComposeResultCancelled, {});
}

void MFMailComposeViewController::send() {
    if (sending_)
        return;
    const QString sendmail = sendmailPath();
    if (sendmail.isEmpty()) {
        finish(MFMailComposeResultFailed, "This machine cannot send mail.");
        return;
    }
    QByteArray message = "To: " + toRecipients().join(", ").toUtf8() + "\n";
    message += "Subject: " + subject().toUtf8() + "\n";
    message += "MIME-Version: 1.0\n";
    message +=
        QByteArray("Content-Type: text/") + (html_ ? "html" : "plain") + "; charset=utf-8\n\n";
    message += body_.toUtf8() + "\n";
    sending_ = new QProcess(this);
    connect(sending_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const bool sent = status == QProcess::NormalExit && code == 0;
        sending_->deleteLater();
        sending_ = nullptr;
        finish(sent ? MFMailComposeResultSent : MFMailComposeResultFailed,
               sent ? QString() : QString("sendmail did not take the message."));
    });
    connect(sending_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        sending_->deleteLater();
        sending_ = nullptr;
        finish(MFMailComposeResultFailed, "sendmail could not be started.");
    });
    sending_->start(sendmail, {"-t", "-i"});
    sending_->write(message);
    sending_->closeWriteChannel();
}

void MFMailComposeViewController::finish(MFMailComposeResult result, const QString &error) {
    if (delegate_ != nullptr)
        delegate_->mailComposeControllerDidFinishWithResult(this, result, error);
}
