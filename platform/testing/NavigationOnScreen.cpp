#include "NavigationOnScreen.h"

#include "UINavigationController.h"

namespace platform::testing {

UINavigationController *showInNavigation(UIViewController *root, QSize size) {
    auto *navigation = new UINavigationController(root);
    navigation->view()->resize(size);
    navigation->viewWillAppear(false);
    navigation->view()->show();
    navigation->viewDidAppear(false);
    return navigation;
}

} // namespace platform::testing
