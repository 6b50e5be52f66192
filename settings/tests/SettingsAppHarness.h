#pragma once

// The Settings app stand-in as its own process, under a fresh device root that holds the bundle,
// for tests that start it and read back what it stored.
#include "NBRConstants.h"
#include "PlistValue.h"
#include "TestDeviceRoot.h"

#include <gtest/gtest.h>

class SettingsAppHarness : public ::testing::Test {
protected:
    SettingsAppHarness() { root_.addPreferenceBundle(BUNDLE_DIR); }

    void seed(platform::PlistValue::Dictionary values) {
        ASSERT_TRUE(
            root_.writePlist(NBRPreferencesPath, std::move(values), platform::PlistFormat::Binary));
    }

    platform::testing::TestDeviceRoot root_;
};
