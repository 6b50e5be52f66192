// Loaded into SpringBoard: unlocks the shared messaging name and turns the controller-event
// notifications into banners, unless the user switched banners off.
#include "BBBulletinRequest.h"
#include "DarwinNotifyCenter.h"
#include "DevicePath.h"
#include "NBRConstants.h"
#include "NBRSupport.h"
#include "ObjCRuntime.h"
#include "PlistValue.h"
#include "SBBulletinBannerController.h"
#include "SpringBoard.h"
#include "dispatch.h"
#include "rocketbootstrap.h"

#include <cstdint>

namespace {

bool NBRSuppressBanners = false;
std::int32_t NBRCurrentControllerType = 0;
Class NBRBannerControllerClass = nullptr;
// A delayed reload is already on its way: one at a time keeps the re-read at once a second
// however many changes arrive during a rewrite.
bool NBRReloadScheduled = false;

void NBRReloadPreferences() {
    if (NBRPreferencesFileStillInAtomicWrite() && !NBRReloadScheduled) {
        NBRReloadScheduled = true;
        dispatch_after(dispatch_time(DISPATCH_TIME_NOW, NSEC_PER_SEC), dispatch_get_main_queue(),
                       [] {
                           NBRReloadScheduled = false;
                           NBRReloadPreferences();
                       });
    }
    const auto preferences =
        platform::readPlistDictionary(platform::devicePath(NBRPreferencesPath));
    auto lookup = [&](const char *key) -> const platform::PlistValue * {
        if (!preferences)
            return nullptr;
        auto it = preferences->find(key);
        return it == preferences->end() ? nullptr : &it->second;
    };
    const auto *suppress = lookup(NBRSuppressNotificationKey);
    NBRSuppressBanners = suppress ? suppress->boolValue().value_or(false) : false;
    const auto *type = lookup(NBRControllerTypeKey);
    NBRCurrentControllerType =
        type ? static_cast<std::int32_t>(type->integerValue().value_or(0)) : 0;
}

std::optional<std::string> NBRFrontMostApplicationIdentifier() {
    if (auto application = UIApp->_accessibilityFrontMostApplication();
        application && application->respondsToSelector("displayIdentifier")) {
        if (auto identifier = application->displayIdentifier())
            return identifier;
    }
    if (auto application = UIApp->_accessibilityFrontMostApplication();
        application && application->respondsToSelector("bundleIdentifier"))
        return application->bundleIdentifier();
    return std::nullopt;
}

void NBRPresentBanner(const char *text) {
    if (NBRSuppressBanners)
        return;
    BBBulletinRequest request;
    request.setMessage(text);
    request.setSectionID(NBRFrontMostApplicationIdentifier());
    if (NBRBannerControllerClass == nullptr)
        NBRBannerControllerClass = objc_getClass("SBBulletinBannerController");
    // Without that class in this SpringBoard, nothing is shown.
    if (auto *controllerClass =
            dynamic_cast<SBBulletinBannerController::Metaclass *>(NBRBannerControllerClass))
        controllerClass->sharedInstance()->_queueBulletin(&request);
}

void NBRPreferencesChanged(CFNotificationCenterRef, void *, CFNotificationName, const void *,
                           const void *) {
    NBRReloadPreferences();
}

void NBRSearching(CFNotificationCenterRef, void *, CFNotificationName, const void *, const void *) {
    switch (NBRCurrentControllerType) {
    case NBRControllerTypeXHome:
        NBRPresentBanner("Searching for a controller. Press X + HOME.");
        break;
    case NBRControllerTypeSyncButton:
        NBRPresentBanner("Searching for a controller. Press the SYNC button.");
        break;
    default:
        NBRPresentBanner("Searching for a controller. Press the PS button.");
    }
}

void NBRControllerDetected(CFNotificationCenterRef, void *, CFNotificationName, const void *,
                           const void *) {
    NBRPresentBanner("Connected to a controller.");
}

void NBRInitBluetooth(CFNotificationCenterRef, void *, CFNotificationName, const void *,
                      const void *) {
    NBRPresentBanner("Initializing Bluetooth, prepare your controller.");
}

void NBRDisconnected(CFNotificationCenterRef, void *, CFNotificationName, const void *,
                     const void *) {
    NBRPresentBanner("Controller disconnected.");
}

void NBRFailure(CFNotificationCenterRef, void *, CFNotificationName, const void *, const void *) {
    NBRPresentBanner("Cannot connect to BTstack, please reinstall BTstack/reboot your device.");
}

__attribute__((constructor)) void NBRSBSupportInitialize() {
    rocketbootstrap_unlock(NBRMessagingCenterName);
    const struct {
        const char *name;
        CFNotificationCallback callback;
    } observers[] = {
        {NBRPreferencesChangedNotification, NBRPreferencesChanged},
        {NBRSearchingNotification, NBRSearching},
        {NBRControllerDetectedNotification, NBRControllerDetected},
        {NBRInitBluetoothNotification, NBRInitBluetooth},
        {NBRDisconnectedNotification, NBRDisconnected},
        {NBRFailureNotification, NBRFailure},
    };
    for (const auto &observer : observers)
        CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                        observer.callback, observer.name, nullptr,
                                        CFNotificationSuspensionBehaviorCoalesce);
    NBRReloadPreferences();
}

} // namespace
