// Preferences: the Settings app stand-in. Shows the bundles of "/Library/PreferenceBundles/"
// under the device root in a window with a navigation stack.
//
//   Preferences [--open NAME] [--tap ROW]... [--print-specifiers] [--screenshot FILE]
//
// --open pushes NAME.bundle's page at once; --tap taps the row with that identifier or title on
// the top screen once it takes taps (a switch row flips its switch); --print-specifiers writes
// "id<TAB>title" per row of the top page; --screenshot saves the window once it has painted.
// Then "ready" is printed. On a session bus the window can also be worked through
// PreferencesControl.
#include "NSNotificationCenter.h"
#include "PSListController.h"
#include "PreferencesControl.h"
#include "SettingsRootController.h"
#include "ToolOptions.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScreen>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

void addOptions(QCommandLineParser &parser) {
    parser.addOption({"open", "Open the page of NAME.bundle.", "NAME"});
    parser.addOption(
        {"tap", "Tap the row with this identifier or title on the top screen.", "ROW"});
    parser.addOption({"print-specifiers", "Print the rows of the top page."});
    parser.addOption({"screenshot", "Save the window as a PNG.", "FILE"});
}

const platform::ToolDescription kTool{
    "Preferences",
    "The Settings app stand-in: shows the bundles of \"/Library/PreferenceBundles\" under "
    "NIMBREL_ROOT in a window with a navigation stack.",
    "Preferences [--open NAME] [--tap ROW]... [--print-specifiers] [--screenshot FILE]\n",
    "  --open NAME          open the page of NAME.bundle\n"
    "  --tap ROW            tap the row with this identifier or title on the top screen\n"
    "  --print-specifiers   print the rows of the top page\n"
    "  --screenshot FILE    save the window as a PNG\n"
    "\"ready\" is printed once all that is done.\n"};

void postBackgroundingNotification(UIApplication &app) {
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState s) {
        if (s == Qt::ApplicationHidden || s == Qt::ApplicationSuspended)
            NSNotificationCenter::defaultCenter().postNotificationName(
                UIApplicationDidEnterBackgroundNotification, nullptr);
    });
}

bool pushBundlePage(UINavigationController &navigation, const QString &name) {
    QString error;
    PSListController *page = SettingsRootController::controllerForBundleNamed(name, &error);
    if (page == nullptr) {
        std::fprintf(stderr, "Preferences: %s\n", qPrintable(error));
        return false;
    }
    navigation.pushViewController(page, false);
    return true;
}

// A phone's screen is the first size; a smaller screen gets what it has room for, and no size
// cuts the rows' values and switches or the bar's back button.
constexpr QSize kFirstSize(390, 720);
constexpr QSize kMinimumSize(320, 400);

void showWindow(UINavigationController &navigation) {
    QWidget *window = navigation.view();
    window->setWindowTitle("Settings");
    QSize room = kFirstSize;
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        room = screen->availableGeometry().size();
    const QSize minimum = kMinimumSize.boundedTo(room);
    window->setMinimumSize(minimum);
    window->resize(kFirstSize.boundedTo(room).expandedTo(minimum));
    navigation.viewWillAppear(false);
    window->show();
    // Without a window manager nothing else would make it the active window, and an inactive
    // window shows no keyboard focus.
    window->activateWindow();
    navigation.viewDidAppear(false);
}

// Each tap waits, as a user would, until its row takes taps (a button is disabled while the page
// asks the controller daemon something).
class StartupTaps {
public:
    explicit StartupTaps(QStringList taps) : taps_(std::move(taps)) { waited_.start(); }

    // The taps that can go now; true once none is left.
    bool tapDue(PreferencesControl &control) {
        while (!taps_.isEmpty()) {
            const bool tapped = control.Tap(taps_.first());
            if (!tapped && waited_.elapsed() < 5000)
                return false;
            if (!tapped)
                std::fprintf(stderr, "Preferences: no row %s that takes taps\n",
                             qPrintable(taps_.first()));
            taps_.removeFirst();
            waited_.restart();
        }
        return true;
    }

private:
    QStringList taps_;
    QElapsedTimer waited_;
};

void finishStartup(const QCommandLineParser &parser, PreferencesControl &control) {
    if (parser.isSet("print-specifiers"))
        for (const QString &row : control.Rows())
            std::printf("%s\n", qPrintable(row.section('\t', 0, 1)));
    if (parser.isSet("screenshot"))
        control.Screenshot(parser.value("screenshot"));
    std::printf("ready\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    // An unknown long option is refused before the application needs a display; single-dash
    // ones may be Qt's own (-platform) and are looked at once Qt has taken those.
    for (int i = 1; i < argc; ++i) {
        const QString option = QString::fromLocal8Bit(argv[i]).section('=', 0, 0);
        if (option.startsWith("--") &&
            !QStringList{"--open", "--tap", "--print-specifiers", "--screenshot"}.contains(option))
            return platform::usageError(kTool, "unknown option " + option.toStdString());
    }
    UIApplication app(argc, argv);
    QApplication::setApplicationName("Preferences");
    QCommandLineParser parser;
    addOptions(parser);
    if (!parser.parse(app.arguments()))
        return platform::usageError(kTool, parser.errorText().toStdString());
    if (!parser.positionalArguments().isEmpty())
        return platform::usageError(kTool, "unexpected " +
                                               parser.positionalArguments().first().toStdString());

    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    postBackgroundingNotification(app);

    auto *navigation = new UINavigationController(new SettingsRootController, &app);
    if (parser.isSet("open") && !pushBundlePage(*navigation, parser.value("open")))
        return 1;
    showWindow(*navigation);

    PreferencesControl control(navigation);
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS") != nullptr && !control.registerOnSessionBus())
        std::fprintf(stderr, "Preferences: another instance is running on this bus\n");
    // The taps first, then the rest, then "ready".
    StartupTaps taps(parser.values("tap"));
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        if (!taps.tapDue(control))
            return;
        ticker.stop();
        finishStartup(parser, control);
    });
    ticker.start(10);
    const int status = app.exec();
    delete navigation;
    return status;
}
