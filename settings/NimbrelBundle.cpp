// What the Settings app finds by name once it has loaded the bundle, and what loading it does.
#include "NBRKeyEventHook.h"
#include "NimbrelListController.h"
#include "PSClassRegistry.h"

PS_REGISTER_CONTROLLER_CLASS(NimbrelListController);

namespace {
// The keymap editor hears the keyboard through the application, from the moment of loading.
const bool keyEventHookInstalled = (NBRInstallKeyEventHook(), true);
} // namespace
