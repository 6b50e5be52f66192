#include "NBRKeyEventHook.h"

#include "NBRKeymapViewController.h"
#include "UIApplication.h"

namespace {

UIApplication::KeyEventImplementation chainedImplementation = nullptr;

void handleKeyUIEvent(UIApplication *application, UIPhysicalKeyboardEvent *event) {
    chainedImplementation(application, event);
    if (NBRKeymapViewController *editor = NBRKeymapViewController::keyEventTarget())
        editor->keyPressed(event);
}

} // namespace

void NBRInstallKeyEventHook() {
    if (chainedImplementation != nullptr || UIApplication::keyEventImplementation() == nullptr)
        return;
    chainedImplementation = UIApplication::setKeyEventImplementation(&handleKeyUIEvent);
}
