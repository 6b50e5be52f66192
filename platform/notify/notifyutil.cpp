// notifyutil -p NAME...            post each name
// notifyutil -w [-n COUNT] NAME... print each name as it is posted ("ready" once observing);
//                                  exit after COUNT posts, or on SIGINT/SIGTERM
#include "DarwinNotifyCenter.h"
#include "ToolOptions.h"
#include "UnixSignalWatcher.h"
#include "notify.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long g_remaining = -1;

void printPosted(CFNotificationCenterRef, void *, CFNotificationName name, const void *,
                 const void *) {
    std::printf("%s\n", name);
    std::fflush(stdout);
    if (g_remaining > 0 && --g_remaining == 0)
        QCoreApplication::quit();
}

const platform::ToolDescription kTool{
    "notifyutil", "Posts Darwin notifications on the session bus, or prints each one posted.",
    "notifyutil -p NAME... | notifyutil -w [-n COUNT] NAME...\n",
    "  -p NAME...            post each name\n"
    "  -w [-n COUNT] NAME... print each name as it is posted (\"ready\" once observing); exit\n"
    "                        after COUNT posts, or on SIGINT/SIGTERM\n"};

int usage(const std::string &problem = {}) {
    return platform::usageError(kTool, problem);
}

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    QCoreApplication app(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "-p") != 0 && std::strcmp(argv[1], "-w") != 0)
        return usage(std::string("unknown option ") + argv[1]);
    if (argc < 3)
        return usage();
    if (std::strcmp(argv[1], "-p") == 0) {
        int failures = 0;
        for (int i = 2; i < argc; ++i)
            failures += notify_post(argv[i]) != NOTIFY_STATUS_OK;
        if (failures)
            std::fprintf(stderr, "notifyutil: %d name(s) not posted (no session bus?)\n", failures);
        return failures ? 1 : 0;
    }
    if (std::strcmp(argv[1], "-w") != 0)
        return usage();
    // Observing nothing while saying "ready" would pass any test that waits for a post.
    const char *bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (bus == nullptr || *bus == '\0') {
        std::fprintf(stderr, "notifyutil: no session bus to observe\n");
        return 1;
    }
    int first = 2;
    if (std::strcmp(argv[2], "-n") == 0 && argc > 4) {
        g_remaining = std::strtol(argv[3], nullptr, 10);
        first = 4;
    }
    for (int i = first; i < argc; ++i)
        CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                        printPosted, argv[i], nullptr,
                                        CFNotificationSuspensionBehaviorDeliverImmediately);
    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
