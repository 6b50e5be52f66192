#include "PSDefaultsDomain.h"
#include "TestDeviceRoot.h"

#include <QPoint>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using platform::PlistValue;

namespace {

class DefaultsDomain : public ::testing::Test {
  protected:
    std::string file(const char *domain) {
        return root_.path(std::string("/var/mobile/Library/Preferences/") + domain + ".plist");
    }
    platform::testing::TestDeviceRoot root_;
};

TEST_F(DefaultsDomain, NamesThatLeaveThePreferencesFolderAreRefused) {
    for (const char *name : {"", ".", "..", "../escape", "a/b"}) {
        PSDefaultsDomain domain(name);
        EXPECT_FALSE(domain.isValid()) << name;
        EXPECT_FALSE(domain.setValueForKey(true, "Key")) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(root_.path("/var/mobile/Library/escape.plist")));
}

TEST_F(DefaultsDomain, AMissingFileIsCreatedAndOtherKeysSurviveLaterWrites) {
    PSDefaultsDomain domain("com.example.one");
    EXPECT_FALSE(domain.valueForKey("Flag").isValid());
    ASSERT_TRUE(domain.setValueForKey(true, "Flag"));
    ASSERT_TRUE(domain.setValueForKey(7, "Count"));
    ASSERT_TRUE(domain.setValueForKey(QString("abc"), "Name"));
    ASSERT_TRUE(domain.setValueForKey(QByteArray("\x01\x02", 2), "Bytes"));

    auto stored = platform::readPlistDictionary(file("com.example.one"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->at("Flag"), PlistValue(true)) << "a boolean stays a boolean";
    EXPECT_EQ(stored->at("Count"), PlistValue(7));
    EXPECT_EQ(stored->at("Name"), PlistValue("abc"));
    EXPECT_EQ(stored->at("Bytes"), PlistValue(PlistValue::Data{1, 2}));
    EXPECT_EQ(domain.valueForKey("Count").toInt(), 7);

    ASSERT_TRUE(domain.setValueForKey(QVariant(), "Flag"));
    EXPECT_FALSE(domain.valueForKey("Flag").isValid()) << "nil removes the key";
    EXPECT_EQ(domain.valueForKey("Name").toString(), "abc");
}

TEST_F(DefaultsDomain, AnUnreadableFileReadsEmptyAndIsReplacedWhole) {
    {
        std::ofstream broken(file("com.example.two"));
        broken << "<?xml version=\"1.0\"?><plist><dict><key>Half";
    }
    PSDefaultsDomain domain("com.example.two");
    EXPECT_FALSE(domain.valueForKey("Half").isValid());
    ASSERT_TRUE(domain.setValueForKey(false, "Flag"));
    auto stored = platform::readPlistDictionary(file("com.example.two"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), 1u);
}

TEST_F(DefaultsDomain, ValuesWithNoPropertyListFormAreRefusedWithoutWriting) {
    PSDefaultsDomain domain("com.example.three");
    EXPECT_FALSE(domain.setValueForKey(QVariant::fromValue(QPoint(1, 2)), "Point"));
    EXPECT_FALSE(std::filesystem::exists(file("com.example.three")));
}

} // namespace
