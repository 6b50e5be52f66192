#include "UIApplication.h"

#include "UIKeyboardHIDUsage.h"
#include "UIPhysicalKeyboardEvent.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QWindow>

Q_LOGGING_CATEGORY(lcOpenURL, "platform.uikit.openurl", QtWarningMsg)

namespace {
// xdg-open runs some browsers in its own process: one still running this long has opened.
constexpr int kOpenerSettledMs = 3000;

UIApplication::KeyEventImplementation handleKeyImplementation = nullptr;
QList<QUrl> openedURLs;
bool recordsURLsOnly = false;
} // namespace

UIApplication::UIApplication(int &argc, char **argv) : QApplication(argc, argv) {}

UIApplication *UIApplication::sharedApplication() {
    return qobject_cast<UIApplication *>(QCoreApplication::instance());
}

UIApplication::KeyEventImplementation UIApplication::keyEventImplementation() {
    return handleKeyImplementation != nullptr ? handleKeyImplementation : &deliverKeyEvent;
}

UIApplication::KeyEventImplementation
UIApplication::setKeyEventImplementation(KeyEventImplementation implementation) {
    KeyEventImplementation previous = keyEventImplementation();
    handleKeyImplementation = implementation;
    return previous;
}

void UIApplication::handleKeyUIEvent(UIPhysicalKeyboardEvent *event) {
    keyEventImplementation()(this, event);
}

void UIApplication::deliverKeyEvent(UIApplication *application, UIPhysicalKeyboardEvent *event) {
    if (event->window() != nullptr && event->keyEvent() != nullptr)
        event->setHandled(application->QApplication::notify(event->window(), event->keyEvent()));
}

bool UIApplication::notify(QObject *receiver, QEvent *event) {
    // A key event comes from the keyboard to a window once; its further delivery to widgets
    // passes here again with a widget as the receiver.
    const QEvent::Type type = event->type();
    if ((type == QEvent::KeyPress || type == QEvent::KeyRelease) && receiver->isWindowType()) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (const std::int64_t usage = platform::keyboardUsageForKeyEvent(*key)) {
            UIPhysicalKeyboardEvent keyboardEvent(usage, type == QEvent::KeyPress, receiver, key);
            handleKeyUIEvent(&keyboardEvent);
            return keyboardEvent.isHandled();
        }
    }
    return QApplication::notify(receiver, event);
}

bool UIApplication::openURL(const QUrl &url) {
    if (!url.isValid())
        return false;
    ::openedURLs.append(url);
    return recordsURLsOnly || QDesktopServices::openUrl(url);
}

QList<QUrl> UIApplication::openedURLs() {
    return ::openedURLs;
}

void UIApplication::setRecordsOnly(bool recordsOnly) {
    recordsURLsOnly = recordsOnly;
}

void UIApplication::forgetOpenedURLs() {
    ::openedURLs.clear();
}

void UIApplication::openURL(const QUrl &url, std::function<void(bool opened)> completion) {
    if (!url.isValid()) {
        qCWarning(lcOpenURL) << "not a URL:" << url.toString();
        completion(false);
        return;
    }
    ::openedURLs.append(url);
    if (recordsURLsOnly) {
        completion(true);
        return;
    }
    const QString opener = QStandardPaths::findExecutable("xdg-open");
    if (opener.isEmpty()) {
        qCWarning(lcOpenURL).noquote() << "nothing opens" << url.toString() << "(no xdg-open)";
        completion(false);
        return;
    }
    // No parent: an opener that became the browser outlives the application instead of being
    // killed with it.
    auto *process = new QProcess;
    process->setProgram(opener);
    process->setArguments({url.toString()});
    // Its own output stays off this process's standard output, which others may parse.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    auto answer = std::make_shared<std::function<void(bool)>>(std::move(completion));
    auto answerOnce = [answer, url](bool opened) {
        if (!*answer)
            return;
        if (!opened)
            qCWarning(lcOpenURL).noquote() << "nothing opened" << url.toString();
        std::exchange(*answer, nullptr)(opened);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, answerOnce](int code, QProcess::ExitStatus status) {
                         answerOnce(status == QProcess::NormalExit && code == 0);
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, answerOnce](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         answerOnce(false);
                         process->deleteLater();
                     });
    QTimer::singleShot(kOpenerSettledMs, process, [answerOnce] { answerOnce(true); });
    process->start();
}
