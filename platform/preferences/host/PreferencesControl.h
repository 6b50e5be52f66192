#pragma once

#include <QObject>
#include <QStringList>

class UINavigationController;

// The Settings app stand-in's handle for tests and scripted walkthroughs, on the session bus as
// "platform.preferences" at "/Preferences". It works the window as a user would: taps are mouse
// clicks on the row's cell, so a disabled cell ignores them, and screenshots show the alerts on
// top of the window as the user sees them.
class PreferencesControl : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "platform.preferences.Control")
public:
    explicit PreferencesControl(UINavigationController *navigation, QObject *parent = nullptr);

    // Registers on the session bus; false when there is none or the name is taken.
    bool registerOnSessionBus();

public slots:
    // Taps the row of the top screen whose identifier or title is `row` (a switch row flips its
    // switch; on a plain table screen the row is found by its text); false when there is no
    // such row or it takes no taps now.
    bool Tap(const QString &row);
    // Presses and releases the key named `key` ("W", "Escape", "Space", as Qt names keys) on the
    // window, as the hardware keyboard does; false for a name that is no key.
    bool PressKey(const QString &key);
    // Goes back one screen; false on the first screen.
    bool Back();
    QString Title() const;
    // One line per row of the top screen: "identifier<TAB>title<TAB>1" (enabled) or "...0".
    QStringList Rows() const;
    // The progress overlay's text, or "" while it is hidden.
    QString Hud() const;
    // "title<TAB>message" for each alert on screen, oldest first.
    QStringList Alerts() const;
    // Presses the newest alert's button; false when no alert is shown.
    bool DismissAlert();
    // Saves what the user sees as a PNG; false when it cannot be written.
    bool Screenshot(const QString &path);
    // Answers once everything sent before has been handled on the main thread.
    void Sync() {}

private:
    UINavigationController *navigation_;
};
