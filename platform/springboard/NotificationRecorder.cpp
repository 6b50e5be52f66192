#include "NotificationRecorder.h"

namespace {

QString quoted(const QString &text) {
    QString out = "\"";
    for (QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    }
    return out + "\"";
}

} // namespace

QString NotificationRecorder::logLine(unsigned id, const QString &appName, const QString &summary,
                                      const QString &body, const QString &appIcon,
                                      int expireTimeout, const QString &desktopEntry) {
    return QString("Notify id=%1 app_name=%2 summary=%3 body=%4 app_icon=%5 expire_timeout=%6 "
                   "desktop_entry=%7")
        .arg(QString::number(id), quoted(appName), quoted(summary), quoted(body), quoted(appIcon),
             QString::number(expireTimeout), quoted(desktopEntry));
}

uint NotificationRecorder::Notify(const QString &app_name, uint replaces_id,
                                  const QString &app_icon, const QString &summary,
                                  const QString &body, const QStringList &,
                                  const QVariantMap &hints, int expire_timeout) {
    // A replacement keeps its id, as the protocol asks; ids are never 0.
    const uint id = replaces_id != 0 ? replaces_id : ++lastId_;
    const QString line = logLine(id, app_name, summary, body, app_icon, expire_timeout,
                                 hints.value("desktop-entry").toString());
    std::fprintf(log_, "%s\n", line.toUtf8().constData());
    std::fflush(log_);
    return id;
}

QStringList NotificationRecorder::GetCapabilities() {
    return {"body"};
}

QString NotificationRecorder::GetServerInformation(QString &vendor, QString &version,
                                                   QString &spec_version) {
    vendor = "platform";
    version = "1.0";
    spec_version = "1.2";
    return "notificationrecorder";
}

void NotificationRecorder::CloseNotification(uint) {}
