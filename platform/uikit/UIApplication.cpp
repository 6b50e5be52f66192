#include "UIApplication.h"

#include "UIKeyboardHIDUsage.h"
#include "UIPhysicalKeyboardEvent.h"

#include <QDesktopServices>
#include <QKeyEvent>
#include <QWindow>

namespace {
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
