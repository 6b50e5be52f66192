#pragma once

#include "ProcessGroup.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <optional>

// Where the run's programs and files are.
struct WalkthroughPaths {
    QString preferences, springboard, notificationRecorder, btstackSimulator, btstackBridge,
        controllerDaemon,
        notifyutil, discoveryTool, bannerPlugin, bundle, scenario;
};

// The typical run, end to end: a private session bus, a fresh device root and every process of
// it (BTstack simulator with a DualShock 4 in range, controller daemon, SpringBoard with the
// banner plug-in, a notification server, the Settings app with the bundle). Scripted, it works
// the Settings window through its session-bus handle step by step, printing what each step
// shows and saving a screenshot of it; by hand, it leaves the window to the user.
class Walkthrough : public QObject {
    Q_OBJECT
public:
    // `verbose`: the by-hand run also prints every message the controller daemon receives.
    // `realController`: the radio is BlueZ's on the system bus (the BTstack bridge instead of the
    // simulator) and the controller daemon connects through BlueZ and lights the light bar
    // through the kernel; `pairedAddress` ("1c:66:6d:01:02:03"), when given, is stored as the
    // paired DualShock 4's.
    Walkthrough(WalkthroughPaths paths, QString outputFolder, bool verbose = false,
                bool realController = false, std::optional<QByteArray> pairedAddress = {});
    ~Walkthrough() override;

    // `onScreen`: the Settings window goes to the display and banners to a real notification
    // server when one is installed. False (with `error`) when a process does not come up.
    bool start(bool onScreen, QString *error);
    // Steps 1 to 8; 0 when every step passed, 1 when one failed, 130 when interrupted.
    int runScripted();
    // Until the Settings window is closed or the user presses Ctrl-C.
    int runByHand();
    void stop();

private:
    struct StepRecord {
        int number;
        QString title;
        qint64 milliseconds;
        bool passed;
    };

    bool prepareRoot(QString *error);
    void clearOutput();
    QProcessEnvironment environmentFor(bool onScreen) const;
    bool startBus(QString *error);
    // `realServer` empty: the recording server, whose banners are printed.
    bool startNotificationServer(const QString &realServer, QString *error);
    bool startServices(QString *error);
    bool startSettings(QString *error);

    // The scripted steps, in order; each says why it failed in `why`.
    bool chooseControllerType(QString &why);
    bool checkPage(QString &why);
    bool tapPair(QString &why);
    bool awaitStartingSearch(QString &why);
    bool awaitSearching(QString &why);
    bool awaitStoredAddress(QString &why);
    bool checkSuccessAlert(QString &why);
    bool connectManually(QString &why);
    bool tapConnect(QString &why);
    void printSummary();

    bool step(int number, const QString &title, const std::function<bool(QString &)> &body);
    bool waitUntil(const std::function<bool()> &condition, int timeoutMs);
    void say(const QString &line);
    void pollDaemonLog();
    // What the window shows that the console has not told yet: the HUD's text, new alerts.
    void reportWindow();
    bool screenshot(const QString &name, QString &why);

    QVariant call(const QString &method, const QVariantList &arguments = {});
    bool tap(const QString &row);
    QString title();
    QStringList rows();
    bool hasRow(const QString &identifier, const QString &name = {});
    QString hud();
    QStringList alerts();
    QString hudReading();
    // Until the HUD's text begins with `prefix`, which is then printed.
    bool awaitHud(const QString &prefix, QString &why);
    std::optional<qint64> storedInteger(const char *key);
    QByteArray storedData(const char *key);
    bool toolRunning();
    bool choose(const char *listRow, const QString &listTitle, const QString &choice,
                const char *key, qint64 value, QString &why);

    WalkthroughPaths paths_;
    QString outputFolder_;
    QTemporaryDir root_;
    std::unique_ptr<ProcessGroup> processes_;
    std::optional<QDBusConnection> bus_;
    QString daemonLogPath_;
    qint64 daemonLogOffset_ = 0;
    QStringList daemonLines_;
    QStringList banners_;
    QStringList notifications_;
    QList<StepRecord> records_;
    QString toldHud_;
    QStringList toldAlerts_;
    bool verbose_ = false;
    bool realController_ = false;
    std::optional<QByteArray> pairedAddress_;
    bool byHand_ = false;
    bool interrupted_ = false;
    bool preferencesEnded_ = false;
};
