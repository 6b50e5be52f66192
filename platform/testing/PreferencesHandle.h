// Calls the Settings app stand-in's handle on the session bus, as scripts do. Header only: the
// tests that use it link QtDBus themselves.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariant>

namespace platform::testing {

// The call's first answer, or an invalid QVariant when the app did not answer in time.
inline QVariant callPreferences(const QString &method, const QVariantList &arguments = {},
                                int timeoutMs = 5000) {
    QDBusMessage message = QDBusMessage::createMethodCall("platform.preferences", "/Preferences",
                                                          "platform.preferences.Control", method);
    message.setArguments(arguments);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()
               ? reply.arguments().first()
               : QVariant();
}

// Whether the app answered true: a tap that found its row, a key the screen took, a way back.
inline bool preferencesDid(const QString &method, const QVariantList &arguments = {},
                           int timeoutMs = 5000) {
    return callPreferences(method, arguments, timeoutMs).toBool();
}

} // namespace platform::testing
