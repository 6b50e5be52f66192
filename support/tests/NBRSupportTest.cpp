#include "NBRSupport.h"
#include "NBRConstants.h"
#include "TestDeviceRoot.h"

#include <QBuffer>
#include <QImage>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>

using platform::UIColor;
using platform::testing::TestDeviceRoot;

namespace {

void touch(const std::string &path) {
    std::ofstream(path) << "x";
}

} // namespace

TEST(AtomicWriteProbe, CountsTheFileAndItsSiblings) {
    TestDeviceRoot root;
    const std::string folder = root.path(NBRPreferencesDirectory);
    const std::string file = root.path(NBRPreferencesPath);

    EXPECT_FALSE(NBRPreferencesFileStillInAtomicWrite()) << "empty folder";
    touch(file);
    EXPECT_FALSE(NBRPreferencesFileStillInAtomicWrite()) << "the file alone";
    touch(file + ".Xa81Qz");
    EXPECT_TRUE(NBRPreferencesFileStillInAtomicWrite()) << "file plus temporary sibling";
    std::remove(file.c_str());
    EXPECT_FALSE(NBRPreferencesFileStillInAtomicWrite()) << "sibling alone counts once";

    touch(file);
    touch(folder + "com.tesmar.nimbrel.plis");    // one character short: not a sibling
    touch(folder + "Com.tesmar.nimbrel.plist.x"); // the prefix test is case-sensitive
    touch(folder + "other.plist");
    std::remove((file + ".Xa81Qz").c_str());
    EXPECT_FALSE(NBRPreferencesFileStillInAtomicWrite());
    touch(file + ".tmp"); // a leftover backup keeps it true for as long as it exists
    EXPECT_TRUE(NBRPreferencesFileStillInAtomicWrite());
}

TEST(AtomicWriteProbe, FolderThatCannotBeListedIsEmpty) {
    TestDeviceRoot root;
    std::filesystem::remove_all(root.path("/var/mobile/Library/Preferences"));
    EXPECT_FALSE(NBRPreferencesFileStillInAtomicWrite());
}

TEST(HexColor, ParsesAsThePlatformScannerDoes) {
    EXPECT_EQ(NBRColorPixelForHexString("004EFD"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString("004efd"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString("0x004EFD"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString("0X004EFD"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString(" 004EFD"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString("\n\t 004EFD"), 0x004EFDu);
    EXPECT_EQ(NBRColorPixelForHexString("\xC2\xA0"
                                        "004EFD"),
              0x004EFDu)
        << "no-break space";
    EXPECT_EQ(NBRColorPixelForHexString("004EFDzz"), 0x004EFDu) << "trailing text ignored";
    EXPECT_EQ(NBRColorPixelForHexString("#004EFD"), 0u);
    EXPECT_EQ(NBRColorPixelForHexString(""), 0u);
    EXPECT_EQ(NBRColorPixelForHexString(nullptr), 0u);
    EXPECT_EQ(NBRColorPixelForHexString("0x"), 0u);
    EXPECT_EQ(NBRColorPixelForHexString("1FFFFFF"), 0xFFFFFFu) << "masked to 24 bits";
    EXPECT_EQ(NBRColorPixelForHexString("ABCDEF012"), 0xFFFFFFu) << "overflow saturates";
    EXPECT_EQ(NBRColorPixelForHexString("FFFFFFFF0000000000"), 0xFFFFFFu);
}

TEST(HexColor, OverflowGivesAllOnesBeforeMasking) {
    // Visible through the colour: the saturated 0xFFFFFFFF is white, not a wrapped value.
    EXPECT_EQ(NBRColorForHexString("ABCDEF012"), UIColor::colorWithRed(1, 1, 1, 1));
    EXPECT_EQ(NBRColorForHexString("100000000"), UIColor::colorWithRed(1, 1, 1, 1));
}

TEST(HexColor, DefaultColourRoundTrip) {
    const UIColor color = NBRColorForHexString(NBRDefaultLEDColor);
    EXPECT_EQ(color.red(), 0.0);
    EXPECT_EQ(color.green(), 78 * 0.00392156862745098);
    EXPECT_EQ(color.blue(), 253 * 0.00392156862745098);
    EXPECT_EQ(color.alpha(), 1.0);
    EXPECT_EQ(NBRStringColorForUIColor(color), "004efd");
    EXPECT_EQ(NBRColorForHexString("#004EFD"), UIColor::colorWithRed(0, 0, 0, 1)) << "black";
}

TEST(HexColor, TruncationLowersExactlyTheKnownChannelValues) {
    const std::set<int> lowered = {33, 37,  41,  45,  49,  53,  57,  61,  66,  74,  82,  90,
                                   98, 106, 114, 122, 132, 148, 164, 180, 196, 212, 228, 244};
    for (int value = 0; value < 256; ++value) {
        char text[8];
        std::snprintf(text, sizeof text, "%02x%02x%02x", value, value, value);
        char expected[8];
        const int back = lowered.count(value) ? value - 1 : value;
        std::snprintf(expected, sizeof expected, "%02x%02x%02x", back, back, back);
        EXPECT_EQ(NBRStringColorForUIColor(NBRColorForHexString(text)), expected) << value;
    }
    EXPECT_EQ(NBRStringColorForUIColor(NBRColorForHexString("212121")), "202020");
}

TEST(HexColor, FormatsTruncatingAndIgnoresAlpha) {
    EXPECT_EQ(NBRStringColorForUIColor(UIColor::colorWithRed(1.0, 0.5, 0.0, 0.2)), "ff7f00");
    // Out-of-range components stay six digits instead of overflowing the text.
    EXPECT_EQ(NBRStringColorForUIColor(UIColor::colorWithRed(1.5, -0.2, 0.999, 1)), "ff00fe");
}

TEST(Checksum, ReflectedTableWithoutInversion) {
    EXPECT_EQ(crc32("abc", 3), 0xCA6598D0u);
    EXPECT_EQ(crc32("", 0), 0u);
    EXPECT_EQ(crc32(nullptr, 0), 0u);
    const unsigned char one = 0x01;
    // A single byte 1 picks table entry 1 of the IEEE table.
    EXPECT_EQ(crc32(&one, 1), 0x77073096u);
}

TEST(Checksum, LeavesZlibsRoutineAlone) {
    // PNG writing checksums through zlib's crc32; it must not land in ours.
    QImage image(8, 8, QImage::Format_RGB32);
    image.fill(0x004EFD);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "PNG"));
    QImage back;
    ASSERT_TRUE(back.loadFromData(png, "PNG"));
    EXPECT_EQ(back.pixel(3, 3) & 0xFFFFFF, 0x004EFDu);
    EXPECT_EQ(crc32("abc", 3), 0xCA6598D0u);
}

TEST(Vocabulary, ExportedConstants) {
    EXPECT_STREQ(NBRDefaultLEDColor, "004EFD");
    EXPECT_STREQ(NBRKeymapCellID, "NBRKeymapCellID");
    const std::string directory = NBRPreferencesDirectory;
    EXPECT_EQ(directory + NBRPreferencesFileName, NBRPreferencesPath);
}
