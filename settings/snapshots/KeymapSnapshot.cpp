// Draws the keymap editor as the settings page opens it, with one row waiting for a key:
//
//   nbr-keymap-snapshot OUT.png [ROW]
//
// ROW (0-20, default 19, "Left Trigger (L2)") is the row tapped. The keymap is the one in the
// preferences file under NIMBREL_ROOT, the defaults without one; nothing is written.
#include "NBRKeymapViewController.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "UIApplication.h"
#include "UINavigationController.h"

#include <QWidget>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UIApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [ROW]\n", argv[0]);
        return 2;
    }
    const long row = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 19;
    if (row < 0 || row > 20) {
        std::fprintf(stderr, "row out of range\n");
        return 2;
    }

    auto *page = new NimbrelListController;
    page->setBundle(NSBundle::bundleWithPath(BUNDLE_DIR));
    UINavigationController navigation(page);
    QWidget *window = navigation.view();
    window->resize(390, 1040);
    navigation.viewWillAppear(false);
    window->show();
    navigation.viewDidAppear(false);
    page->openKeymapEditor();
    auto *editor = qobject_cast<NBRKeymapViewController *>(navigation.topViewController());
    if (editor == nullptr)
        return 1;
    QCoreApplication::processEvents();
    // What a tap on the row does.
    const NSIndexPath tapped = NSIndexPath::indexPathForRow(row, 0);
    editor->tableView()->selectRowAtIndexPath(tapped, false);
    editor->tableViewDidSelectRowAtIndexPath(editor->tableView(), tapped);
    QCoreApplication::processEvents();
    return window->grab().save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
