// What the Settings app finds by name once it has loaded the bundle.
#include "NimbrelListController.h"
#include "PSClassRegistry.h"

PS_REGISTER_CONTROLLER_CLASS(NimbrelListController);
