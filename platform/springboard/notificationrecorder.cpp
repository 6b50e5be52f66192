// notificationrecorder: owns org.freedesktop.Notifications on the session bus, prints "ready",
// then one line per notification (see NotificationRecorder::logLine) until SIGINT/SIGTERM.
#include "NotificationRecorder.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdio>

int main(int argc, char **argv) {
    const platform::ToolDescription tool{
        "notificationrecorder",
        "A desktop notification server that shows nothing and prints one line per notification.",
        "notificationrecorder\n"};
    if (auto status = platform::answerHelpOrVersion(argc, argv, tool))
        return *status;
    if (argc > 1)
        return platform::usageError(tool, std::string("unknown option ") + argv[1]);
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    NotificationRecorder recorder(stdout);
    if (!bus.isConnected() ||
        !bus.registerObject("/org/freedesktop/Notifications", &recorder,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService("org.freedesktop.Notifications")) {
        std::fprintf(stderr, "notificationrecorder: cannot own org.freedesktop.Notifications "
                             "(no session bus, or another server holds it)\n");
        return 1;
    }
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
