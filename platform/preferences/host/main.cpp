// Preferences: the Settings app stand-in. Shows the bundles of "/Library/PreferenceBundles/"
// under the device root in a window with a navigation stack.
//
//   Preferences [--open NAME] [--tap ID]... [--print-specifiers] [--screenshot FILE]
//
// --open pushes NAME.bundle's page at once; --tap taps the row with that identifier on the top
// page (a switch row flips its switch); --print-specifiers writes "id<TAB>title" per row of the
// top page; --screenshot saves the window once it has painted. Then "ready" is printed.
#include "NSNotificationCenter.h"
#include "PSListController.h"
#include "PSSwitchTableCell.h"
#include "PSTableCell.h"
#include "SettingsRootController.h"
#include "UIApplication.h"
#include "UINavigationController.h"
#include "UISwitch.h"
#include "UnixSignalWatcher.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <csignal>
#include <cstdio>

namespace {

PSListController *topPage(UINavigationController *navigation) {
    return qobject_cast<PSListController *>(navigation->topViewController());
}

bool tap(UINavigationController *navigation, const QString &identifier) {
    PSListController *page = topPage(navigation);
    PSSpecifierRef specifier = page != nullptr ? page->specifierForID(identifier) : nullptr;
    if (!specifier)
        return false;
    if (auto *toggle = qobject_cast<PSSwitchTableCell *>(specifier->cellObject()))
        toggle->control()->click();
    else
        page->tableCellTapped(specifier.get());
    return true;
}

} // namespace

int main(int argc, char **argv) {
    UIApplication app(argc, argv);
    QApplication::setApplicationName("Preferences");
    QCommandLineParser parser;
    parser.addOption({"open", "Open the page of NAME.bundle.", "NAME"});
    parser.addOption({"tap", "Tap the row with identifier ID on the top page.", "ID"});
    parser.addOption({"print-specifiers", "Print the rows of the top page."});
    parser.addOption({"screenshot", "Save the window as a PNG.", "FILE"});
    parser.addHelpOption();
    parser.process(app);

    platform::UnixSignalWatcher::quitApplicationOn({SIGINT, SIGTERM});
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, [](Qt::ApplicationState s) {
        if (s == Qt::ApplicationHidden || s == Qt::ApplicationSuspended)
            NSNotificationCenter::defaultCenter().postNotificationName(
                UIApplicationDidEnterBackgroundNotification, nullptr);
    });

    auto *navigation = new UINavigationController(new SettingsRootController, &app);
    if (parser.isSet("open")) {
        QString error;
        PSListController *page =
            SettingsRootController::controllerForBundleNamed(parser.value("open"), &error);
        if (page == nullptr) {
            std::fprintf(stderr, "Preferences: %s\n", qPrintable(error));
            return 1;
        }
        navigation->pushViewController(page, false);
    }

    QWidget *window = navigation->view();
    window->setWindowTitle("Settings");
    window->resize(390, 720);
    navigation->viewWillAppear(false);
    window->show();
    navigation->viewDidAppear(false);

    for (const QString &identifier : parser.values("tap"))
        if (!tap(navigation, identifier))
            std::fprintf(stderr, "Preferences: no row %s\n", qPrintable(identifier));

    if (parser.isSet("print-specifiers"))
        if (PSListController *page = topPage(navigation))
            for (const PSSpecifierRef &specifier : page->specifiers())
                std::printf("%s\t%s\n", qPrintable(specifier->identifier()),
                            qPrintable(specifier->name()));

    // Once the event loop has painted the window.
    QTimer::singleShot(0, &app, [&] {
        if (parser.isSet("screenshot"))
            window->grab().save(parser.value("screenshot"), "PNG");
        std::printf("ready\n");
        std::fflush(stdout);
    });
    const int status = app.exec();
    delete navigation;
    return status;
}
