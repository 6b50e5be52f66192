#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Posted on the default notification center when the application leaves the screen.
inline const QString UIApplicationDidEnterBackgroundNotification =
    QStringLiteral("UIApplicationDidEnterBackgroundNotification");

// The application object: here only what opens other applications.
class UIApplication {
  public:
    static UIApplication &sharedApplication();

    // Hands `url` to the desktop's handler (a web page opens in the browser). Every URL asked
    // for is remembered, in order, so tests can see it; with `setRecordsOnly` nothing is
    // handed over.
    bool openURL(const QUrl &url);
    QList<QUrl> openedURLs() const { return opened_; }
    void setRecordsOnly(bool recordsOnly) { recordsOnly_ = recordsOnly; }
    void forgetOpenedURLs() { opened_.clear(); }

  private:
    QList<QUrl> opened_;
    bool recordsOnly_ = false;
};
