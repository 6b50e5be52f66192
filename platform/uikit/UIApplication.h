#pragma once

#include <QApplication>
#include <QList>
#include <QString>
#include <QUrl>
#include <functional>

class UIPhysicalKeyboardEvent;

// Posted on the default notification center when the application leaves the screen.
inline const QString UIApplicationDidEnterBackgroundNotification =
    QStringLiteral("UIApplicationDidEnterBackgroundNotification");

// The application object. Every hardware-keyboard event that reaches one of its windows, press
// or release, with a USB HID usage, goes through handleKeyUIEvent, whose own implementation
// delivers it to the widgets as usual. A loaded bundle may replace that implementation and
// chain to the one it replaced, so it sees each event after the application has handled it.
class UIApplication : public QApplication {
    Q_OBJECT
public:
    using KeyEventImplementation = void (*)(UIApplication *application,
                                            UIPhysicalKeyboardEvent *event);

    UIApplication(int &argc, char **argv);

    // The running application, null when the process runs a plain QApplication.
    static UIApplication *sharedApplication();

    void handleKeyUIEvent(UIPhysicalKeyboardEvent *event);

    // The implementation handleKeyUIEvent runs, process-wide, and its replacement, which
    // returns the implementation it replaced. Main thread only.
    static KeyEventImplementation keyEventImplementation();
    static KeyEventImplementation setKeyEventImplementation(KeyEventImplementation implementation);

    bool notify(QObject *receiver, QEvent *event) override;

    // Hands `url` to the desktop's handler (a web page opens in the browser). Process-wide, so
    // it works whichever application object runs. Every URL asked for is remembered, in order,
    // so tests can see it; with `setRecordsOnly` nothing is handed over.
    static bool openURL(const QUrl &url);
    // The same through the desktop's opener (xdg-open), with its answer: `completion` runs on
    // the main thread once the opener has ended (false: none on PATH, it failed, no handler)
    // or, for one that is still running after a while (it became the browser), with true.
    // Recording only, it answers true at once.
    static void openURL(const QUrl &url, std::function<void(bool opened)> completion);
    static QList<QUrl> openedURLs();
    static void setRecordsOnly(bool recordsOnly);
    static void forgetOpenedURLs();

private:
    static void deliverKeyEvent(UIApplication *application, UIPhysicalKeyboardEvent *event);
};
