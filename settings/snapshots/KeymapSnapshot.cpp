// Draws the keymap editor as the settings page opens it, with one row waiting for a key:
//
//   nbr-keymap-snapshot OUT.png [ROW]
//
// ROW (0-20, default 19, "Left Trigger (L2)") is the row tapped. The keymap is the one in the
// preferences file under NIMBREL_ROOT, the defaults without one; nothing is written.
#include "NBRKeymapViewController.h"
#include "NSBundle.h"
#include "NimbrelListController.h"
#include "ToolOptions.h"
#include "UIApplication.h"
#include "UINavigationController.h"

#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {
const platform::ToolDescription kTool{
    "nbr-keymap-snapshot",
    "Draws the keymap editor, with row ROW (0-20, 19) waiting for a key, into a PNG.",
    "nbr-keymap-snapshot OUT.png [ROW]\n"};
} // namespace

int main(int argc, char **argv) {
    if (auto status = platform::answerHelpOrVersion(argc, argv, kTool))
        return *status;
    for (int i = 1; i < argc; ++i)
        if (argv[i][0] == '-')
            return platform::usageError(kTool, std::string("unknown option ") + argv[i]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    UIApplication app(argc, argv);
    if (argc < 2 || argc > 3)
        return platform::usageError(kTool, "");
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
