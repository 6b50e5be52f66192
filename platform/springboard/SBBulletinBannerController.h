#pragma once

#include "ObjCRuntime.h"

class BBBulletinRequest;

// Shows queued bulletins as banners: each one becomes one desktop notification on the session
// bus, its message as the body, headed by its section's application (display name and icon,
// the section itself in the "desktop-entry" hint), gone after a few seconds.
class SB_EXPORT SBBulletinBannerController {
  public:
    // The class object plug-ins find under the name "SBBulletinBannerController".
    struct SB_EXPORT Metaclass : objc_class {
        SBBulletinBannerController *sharedInstance() const;
    };
    static Metaclass &classObject();

    static SBBulletinBannerController *sharedInstance();
    void _queueBulletin(const BBBulletinRequest *request);

  private:
    SBBulletinBannerController() = default;
};
