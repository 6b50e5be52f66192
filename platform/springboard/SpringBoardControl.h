#pragma once

#include <QObject>
#include <QVariantMap>

// The stand-in's own handle for tests and the demo, on the session bus as
// "platform.springboard" at "/SpringBoard": which application is in front.
class SpringBoardControl : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "platform.springboard.Control")
  public:
    using QObject::QObject;

  public slots:
    // Each key is a selector the application answers ("displayIdentifier",
    // "bundleIdentifier"); a string value is its identifier, anything else makes it answer none.
    void SetFrontMostApplication(const QVariantMap &answers);
    // Back to the home screen: no application in front.
    void GoHome();
    // Answers once everything sent to this process before has been handled on the main thread
    // (and whatever that sent on has left it).
    void Sync() {}
};
