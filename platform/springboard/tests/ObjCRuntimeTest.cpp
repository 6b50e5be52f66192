#include "ObjCRuntime.h"
#include "SBBulletinBannerController.h"

#include <gtest/gtest.h>

TEST(ObjCRuntime, ClassesAreFoundByNameOnlyWhileRegistered) {
    EXPECT_EQ(objc_getClass("SBBulletinBannerController"), nullptr);
    EXPECT_EQ(objc_getClass(nullptr), nullptr);
    objc_registerClass("SBBulletinBannerController", &SBBulletinBannerController::classObject());
    Class found = objc_getClass("SBBulletinBannerController");
    auto *controllerClass = dynamic_cast<SBBulletinBannerController::Metaclass *>(found);
    ASSERT_NE(controllerClass, nullptr);
    EXPECT_EQ(controllerClass->sharedInstance(), SBBulletinBannerController::sharedInstance());
    EXPECT_EQ(objc_getClass("SBBulletinBannerControllerX"), nullptr);
    objc_unregisterClass("SBBulletinBannerController");
    EXPECT_EQ(objc_getClass("SBBulletinBannerController"), nullptr);
}
