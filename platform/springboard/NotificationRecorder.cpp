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
                                      const QString &body) {
    return QString("Notify id=%1 app_name=%2 summary=%3 body=%4")
        .arg(id)
        .arg(quoted(appName), quoted(summary), quoted(body));
}

uint NotificationRecorder::Notify(const QString &app_name, uint replaces_id, const QString &,
                                  const QString &summary, const QString &body, const QStringList &,
                                  const QVariantMap &, int) {
    // A replacement keeps its id, as the protocol asks; ids are never 0.
    const uint id = replaces_id != 0 ? replaces_id : ++lastId_;
    std::fprintf(log_, "%s\n", logLine(id, app_name, summary, body).toUtf8().constData());
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
