#pragma once

#include <QSize>

class UINavigationController;
class UIViewController;

namespace platform::testing {

// `root` in a navigation stack of its own, on screen and told it appeared, as the Settings app
// shows a page. The caller owns the stack (deleting it deletes `root`).
UINavigationController *showInNavigation(UIViewController *root, QSize size);

} // namespace platform::testing
