#include "PlistValue.h"
#include "AtomicFile.h"
#include "TestDeviceRoot.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using platform::PlistDate;
using platform::PlistFormat;
using platform::PlistValue;

namespace {

PlistValue sample() {
    PlistValue::Dictionary keymap{{"4", PlistValue(std::int64_t{12})}, {"26", 9}};
    return PlistValue(PlistValue::Dictionary{
        {"PS4BluetoothAddress", PlistValue::Data{0x00, 0x1b, 0xdc, 0x0f, 0xe2, 0x7a}},
        {"ControllerType", 1},
        {"ShouldSuppressNotification", true},
        {"NBRAmbientColorKey", false},
        {"NBRLEDColorKey", "004efd"},
        {"Unicode", "Sch\xc3\xb6n \xe2\x9c\x93"},
        {"Real", 0.1},
        {"Large", std::int64_t{1} << 40},
        {"When", PlistDate{123456789}}, // XML keeps whole seconds only
        {"Negative", -5},
        {"List", PlistValue::Array{1, "two", PlistValue::Data{}, PlistValue::Dictionary{}}},
        {"NBRKeyboardKeymapKey", keymap},
    });
}

std::string writeBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

} // namespace

TEST(PlistValue, RoundTripsEveryKindInBothEncodings) {
    for (PlistFormat format : {PlistFormat::XML, PlistFormat::Binary}) {
        auto bytes = platform::plistToBytes(sample(), format);
        ASSERT_FALSE(bytes.empty());
        const bool binary = std::string(bytes.begin(), bytes.begin() + 8) == "bplist00";
        EXPECT_EQ(binary, format == PlistFormat::Binary);
        auto back = platform::plistFromBytes(bytes);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, sample()) << (binary ? "binary" : "xml");
    }
}

// A binary file whose "ASCII" strings carry bytes past 127 (found by fuzzing): read as
// Latin-1, so rewriting the file, as the pairing tool does in XML, leaves a readable file with
// every entry instead of one that reads as nothing.
TEST(PlistValue, StringsThatAreNotUtf8ReadAsLatin1AndWriteBackReadably) {
    auto bytes = platform::plistToBytes(
        PlistValue(PlistValue::Dictionary{{"NBRLEDCxxorKey", "caf_"}, {"ControllerType", 2}}),
        PlistFormat::Binary);
    auto patch = [&](std::string_view from, std::string_view to) {
        auto at = std::search(bytes.begin(), bytes.end(), from.begin(), from.end());
        ASSERT_NE(at, bytes.end());
        std::copy(to.begin(), to.end(), at);
    };
    patch("Cxxor", "C\x93\x93or");
    patch("caf_", "caf\xe9");
    const auto read = platform::plistFromBytes(bytes);
    ASSERT_TRUE(read && read->dictionary());
    const PlistValue *entry = read->find("NBRLEDC\xc2\x93\xc2\x93orKey");
    ASSERT_NE(entry, nullptr);
    ASSERT_NE(entry->string(), nullptr);
    EXPECT_EQ(*entry->string(), "caf\xc3\xa9");
    for (auto format : {PlistFormat::XML, PlistFormat::Binary}) {
        PlistValue::Dictionary rewritten = *read->dictionary();
        rewritten["PS4BluetoothAddress"] = PlistValue::Data{1, 2, 3, 4, 5, 6};
        const PlistValue whole(rewritten);
        EXPECT_EQ(platform::plistFromBytes(platform::plistToBytes(whole, format)), whole);
    }
}

// A NUL inside a string or a key made the property-list library stop the process (found by
// fuzzing); such a list is no property list this side reads.
TEST(PlistValue, StringsWithANulInsideAreRefusedWithoutStoppingTheProcess) {
    for (const char *key : {"Key_A", "Plain"}) {
        const auto bytes = platform::plistToBytes(
            PlistValue(PlistValue::Dictionary{{key, "Value_B"}, {"U", "\xe2\x9c\x93_"}}),
            PlistFormat::Binary);
        for (std::string_view hole : {"Key_A", "Value_B"}) {
            auto patched = bytes;
            auto at = std::search(patched.begin(), patched.end(), hole.begin(), hole.end());
            if (at == patched.end())
                continue;
            at[hole.size() - 2] = 0;
            EXPECT_EQ(platform::plistFromBytes(patched), std::nullopt) << hole;
        }
    }
    auto utf16 = platform::plistToBytes(PlistValue(PlistValue::Dictionary{{"\xe2\x9c\x93", 1}}),
                                        PlistFormat::Binary);
    const std::uint8_t check[] = {0x27, 0x13};
    auto at = std::search(utf16.begin(), utf16.end(), std::begin(check), std::end(check));
    ASSERT_NE(at, utf16.end());
    at[0] = at[1] = 0;
    EXPECT_EQ(platform::plistFromBytes(utf16), std::nullopt);

    for (const char *reference : {"&#0;", "&#x00;"}) {
        const std::string xml = std::string("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict>"
                                            "<key>a") +
                                reference + "b</key><string>c</string></dict></plist>";
        EXPECT_EQ(platform::plistFromBytes(
                      std::span(reinterpret_cast<const std::uint8_t *>(xml.data()), xml.size())),
                  std::nullopt);
    }
}

// Dates beyond the library's 32-bit seconds were converted with undefined behaviour, and dates
// before 2001 with a fraction of a second moved on every read (both found by fuzzing).
TEST(PlistValue, DatesOutsideWhatTheFormatHoldsAreHeldToItsRange) {
    const PlistValue dates(PlistValue::Array{PlistDate{1e12}, PlistDate{-2147483648.5},
                                             PlistDate{std::nan("")}, PlistDate{-5.25}});
    for (auto format : {PlistFormat::XML, PlistFormat::Binary}) {
        const auto back = platform::plistFromBytes(platform::plistToBytes(dates, format));
        ASSERT_TRUE(back && back->array());
        ASSERT_EQ(back->array()->size(), 4u);
        EXPECT_EQ(back->array()->at(0).date()->secondsSinceReferenceDate, 2147483647.0);
        EXPECT_EQ(back->array()->at(1).date()->secondsSinceReferenceDate, -2147483648.0);
        EXPECT_EQ(back->array()->at(2).date()->secondsSinceReferenceDate, 0.0);
        // Before the reference date with a fraction: the fraction used to come back added.
        EXPECT_EQ(back->array()->at(3).date()->secondsSinceReferenceDate,
                  format == PlistFormat::XML ? -5.0 : -5.25); // XML: whole seconds
    }
    // A file's date just past that range reads as the range's end, so it writes back as read.
    auto bytes =
        platform::plistToBytes(PlistValue(PlistValue::Array{PlistDate{5}}), PlistFormat::Binary);
    const std::uint8_t five[] = {0x33, 0x40, 0x14, 0, 0, 0, 0, 0, 0};
    auto at = std::search(bytes.begin(), bytes.end(), std::begin(five), std::end(five));
    ASSERT_NE(at, bytes.end());
    const std::uint8_t early[] = {0xC1, 0xE0, 0, 0, 0, 0x10, 0, 0}; // -2147483648.5
    std::copy(std::begin(early), std::end(early), at + 1);
    const auto read = platform::plistFromBytes(bytes);
    ASSERT_TRUE(read && read->array());
    const auto again = platform::plistFromBytes(platform::plistToBytes(*read, PlistFormat::Binary));
    ASSERT_TRUE(again && again->array());
    EXPECT_EQ(again->array()->at(0).date()->secondsSinceReferenceDate,
              read->array()->at(0).date()->secondsSinceReferenceDate);
}

// A pointer into a temporary would dangle once the statement ends: only named values give them.
template <class T>
concept Finds = requires(T &&value) {
    std::forward<T>(value).find("x");
};
template <class T>
concept GivesDictionary = requires(T &&value) {
    std::forward<T>(value).dictionary();
};
template <class T>
concept GivesString = requires(T &&value) {
    std::forward<T>(value).string();
};
static_assert(Finds<const PlistValue &> && !Finds<PlistValue> && !Finds<const PlistValue>);
static_assert(GivesDictionary<PlistValue &> && GivesDictionary<const PlistValue &> &&
              !GivesDictionary<PlistValue> && !GivesDictionary<const PlistValue>);
static_assert(GivesString<const PlistValue &> && !GivesString<PlistValue>);

TEST(PlistValue, TypesStayApart) {
    const PlistValue value = sample();
    EXPECT_EQ(value.find("ControllerType")->type(), PlistValue::Type::Integer);
    EXPECT_EQ(value.find("ShouldSuppressNotification")->type(), PlistValue::Type::Boolean);
    EXPECT_EQ(value.find("PS4BluetoothAddress")->data()->size(), 6u);
    EXPECT_EQ(value.find("ControllerType")->string(), nullptr);
    EXPECT_EQ(value.find("missing"), nullptr);
    const PlistValue text("x");
    EXPECT_EQ(text.find("x"), nullptr) << "only dictionaries have entries";
    // The number readings accept any number, as the platform's number object does.
    EXPECT_EQ(PlistValue(true).integerValue(), 1);
    EXPECT_EQ(PlistValue(2.9).integerValue(), 2);
    EXPECT_EQ(PlistValue(std::int64_t{0}).boolValue(), false);
    EXPECT_EQ(PlistValue("1").boolValue(), true) << "text reads as the platform's string reads";
    EXPECT_EQ(PlistValue(1e300).integerValue(), std::nullopt);
}

// Text where a number or a switch belongs (a file written by hand): every process reads it as
// the platform's string does, never by a rule of its own.
TEST(PlistValue, TextReadsAsNumberAndTruthTheWayThePlatformsStringDoes) {
    const std::vector<std::pair<const char *, std::int64_t>> integers = {
        {"3", 3},
        {"  -12abc", -12},
        {"+7", 7},
        {"5.9", 5},
        {"x3", 0},
        {"", 0},
        {"0x10", 0},
        {"\u00a0\u30004", 4},
        {"99999999999999999999", INT64_MAX},
        {"-99999999999999999999", INT64_MIN},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN}};
    for (const auto &[text, value] : integers)
        EXPECT_EQ(PlistValue(text).integerValue(), value) << '"' << text << '"';
    EXPECT_EQ(PlistValue(-5.9).integerValue(), -5) << "a real truncates toward zero";
    EXPECT_EQ(PlistValue(std::nan("")).integerValue(), std::nullopt);

    for (const char *text : {"YES", "yes", "true", "T", "1", "7", " 0009", "-1", "+y", "\n\tYES"})
        EXPECT_EQ(PlistValue(text).boolValue(), true) << '"' << text << '"';
    for (const char *text : {"NO", "no", "false", "0", "000", "", " ", "-0", "on", "#1", "++1"})
        EXPECT_EQ(PlistValue(text).boolValue(), false) << '"' << text << '"';
    EXPECT_EQ(PlistValue(0.25).boolValue(), true);

    // Nothing else is a number or a truth value.
    for (const PlistValue &other : {PlistValue(PlistValue::Data{1}), PlistValue(PlistDate{3}),
                                    PlistValue(PlistValue::Array{PlistValue(1)}), PlistValue()}) {
        EXPECT_EQ(other.integerValue(), std::nullopt);
        EXPECT_EQ(other.boolValue(), std::nullopt);
    }
}

TEST(PlistFile, ReadsEitherEncodingFromDisk) {
    platform::testing::TestDeviceRoot root;
    const std::string xml = root.path("/tmp/a.plist");
    const std::string binary = root.path("/tmp/b.plist");
    ASSERT_TRUE(platform::writePlistAtomically(xml, sample(), PlistFormat::XML));
    ASSERT_TRUE(platform::writePlistAtomically(binary, sample(), PlistFormat::Binary));
    const PlistValue expected = sample();
    EXPECT_EQ(platform::readPlistDictionary(xml), *expected.dictionary());
    EXPECT_EQ(platform::readPlistDictionary(binary), *expected.dictionary());
}

TEST(PlistFile, AnythingButADictionaryFileReadsAsNone) {
    platform::testing::TestDeviceRoot root;
    const std::string folder = root.path("/tmp/");
    EXPECT_FALSE(platform::readPlistDictionary(folder + "missing.plist"));
    EXPECT_FALSE(platform::readPlistDictionary(writeBytes(folder + "empty", "")));
    EXPECT_FALSE(platform::readPlistDictionary(writeBytes(folder + "garbage", "\x01\x02garbage")));
    EXPECT_FALSE(platform::readPlistDictionary(
        writeBytes(folder + "cut", "<?xml version=\"1.0\"?><plist><dict><key>a</key>")));
    EXPECT_FALSE(platform::readPlistDictionary(writeBytes(folder + "bin", "bplist00\xff\xff\xff")));
    auto array = platform::plistToBytes(PlistValue(PlistValue::Array{1}), PlistFormat::XML);
    EXPECT_FALSE(platform::readPlistDictionary(
        writeBytes(folder + "array", std::string(array.begin(), array.end()))));
    std::filesystem::create_directory(folder + "dir.plist");
    EXPECT_FALSE(platform::readPlistDictionary(folder + "dir.plist"));

    auto binary = platform::plistToBytes(sample(), PlistFormat::Binary);
    for (std::size_t cut : {9ul, binary.size() / 2, binary.size() - 1}) {
        std::string truncated(binary.begin(), binary.begin() + static_cast<long>(cut));
        EXPECT_FALSE(platform::readPlistDictionary(writeBytes(folder + "truncated", truncated)))
            << cut;
    }
}

TEST(PlistFile, DeepNestingIsRefusedNotRecursedInto) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 300; ++i)
        xml += "<array>";
    for (int i = 0; i < 300; ++i)
        xml += "</array>";
    xml += "</plist>";
    auto parsed = platform::plistFromBytes(
        std::span(reinterpret_cast<const std::uint8_t *>(xml.data()), xml.size()));
    EXPECT_FALSE(parsed);
}
