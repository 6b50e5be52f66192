#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

// A desktop notification server that shows nothing: it answers as a server does and writes one
// line per notification, for tests and for runs without a display.
class NotificationRecorder : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
  public:
    explicit NotificationRecorder(std::FILE *log, QObject *parent = nullptr)
        : QObject(parent), log_(log) {}

    // The line written for one notification (C escapes inside the quotes):
    // Notify id=N app_name="..." summary="..." body="..." app_icon="..." expire_timeout=MS
    //   desktop_entry="..."
    // desktop_entry is the hint of that name, empty without one.
    static QString logLine(unsigned id, const QString &appName, const QString &summary,
                           const QString &body, const QString &appIcon = {}, int expireTimeout = -1,
                           const QString &desktopEntry = {});

  public slots:
    uint Notify(const QString &app_name, uint replaces_id, const QString &app_icon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expire_timeout);
    QStringList GetCapabilities();
    QString GetServerInformation(QString &vendor, QString &version, QString &spec_version);
    void CloseNotification(uint id);

  private:
    std::FILE *log_;
    uint lastId_ = 0;
};
