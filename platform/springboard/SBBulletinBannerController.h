#pragma once

#include "ObjCRuntime.h"

class BBBulletinRequest;

// Shows queued bulletins as banners: each one becomes one desktop notification on the session
// bus, its message as the body and its section as the notification's application.
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
