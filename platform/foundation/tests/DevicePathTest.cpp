#include "DevicePath.h"
#include "TestDeviceRoot.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

TEST(DevicePath, MapsAbsolutePathsUnderTheRootOnly) {
    ::setenv("NIMBREL_ROOT", "/tmp/root//", 1);
    EXPECT_EQ(platform::devicePath("/tmp/nbrcontrol.sock"), "/tmp/root/tmp/nbrcontrol.sock");
    EXPECT_EQ(platform::devicePath("relative/file"), "relative/file");
    EXPECT_EQ(platform::devicePath(""), "");
    ::setenv("NIMBREL_ROOT", "", 1);
    EXPECT_EQ(platform::devicePath("/usr/bin/nbrdiscovery"), "/usr/bin/nbrdiscovery");
    ::unsetenv("NIMBREL_ROOT");
    EXPECT_EQ(platform::devicePath("/usr/bin/nbrdiscovery"), "/usr/bin/nbrdiscovery");
}

TEST(DevicePath, TestRootIsSetAndRemoved) {
    std::string where;
    {
        platform::testing::TestDeviceRoot root;
        where = root.root();
        EXPECT_EQ(platform::devicePath("/var/mobile"), where + "/var/mobile");
        EXPECT_TRUE(std::filesystem::is_directory(where + "/var/mobile/Library/Preferences"));
        EXPECT_LT(root.path("/tmp/nbrcontrol.sock").size(), 108u);
    }
    EXPECT_FALSE(std::filesystem::exists(where));
    EXPECT_EQ(std::getenv("NIMBREL_ROOT"), nullptr);
}
