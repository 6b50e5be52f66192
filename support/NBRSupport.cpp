#include "NBRSupport.h"

#include "DevicePath.h"
#include "NBRConstants.h"
#include "TextScanning.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>

extern "C" const char *const NBRDefaultLEDColor = "004EFD";
extern "C" const char *const NBRKeymapCellID = "NBRKeymapCellID";

namespace {

int hexDigit(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::uint32_t scanHex(const char *text) {
    if (text == nullptr)
        return 0;
    while (std::size_t n = platform::whiteSpaceLength(text))
        text += n;
    auto p = reinterpret_cast<const unsigned char *>(text);
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && hexDigit(p[2]) >= 0)
        p += 2;
    std::uint64_t value = 0;
    for (int digit; (digit = hexDigit(*p)) >= 0; ++p) {
        value = value * 16 + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu)
            value = 0x100000000u; // saturated; later digits cannot bring it back
    }
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(value);
}

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

// Truncation toward zero, as the platform converts. Components outside 0...1 (or NaN) are held
// to a byte so the text always has six digits and the conversion never overflows.
unsigned truncatedChannel(double component) {
    double scaled = component * 255.0;
    if (!(scaled > 0))
        return 0;
    if (scaled >= 255.0)
        return 255;
    return static_cast<unsigned>(static_cast<int>(scaled));
}

struct DirCloser {
    void operator()(DIR *dir) const { closedir(dir); }
};

} // namespace

extern "C" bool NBRPreferencesFileStillInAtomicWrite(void) {
    std::unique_ptr<DIR, DirCloser> dir(
        opendir(platform::devicePath(NBRPreferencesDirectory).c_str()));
    if (!dir)
        return false;
    const std::size_t prefixLength = std::strlen(NBRPreferencesFileName);
    int count = 0;
    while (dirent *entry = readdir(dir.get())) {
        if (std::strncmp(entry->d_name, NBRPreferencesFileName, prefixLength) == 0 && ++count > 1)
            return true;
    }
    return false;
}

extern "C" std::uint32_t NBRColorPixelForHexString(const char *hex) {
    return scanHex(hex) & 0xFFFFFFu;
}

extern "C" platform::UIColor NBRColorForHexString(const char *hex) {
    const std::uint32_t value = scanHex(hex);
    constexpr double kScale = 0.00392156862745098; // 1/255, multiplied as the platform does
    return platform::UIColor::colorWithRed(((value >> 16) & 0xFF) * kScale,
                                           ((value >> 8) & 0xFF) * kScale, (value & 0xFF) * kScale,
                                           1.0);
}

extern "C" std::string NBRStringColorForUIColor(const platform::UIColor &color) {
    double red = 0, green = 0, blue = 0;
    color.getRed(&red, &green, &blue, nullptr);
    char text[8];
    std::snprintf(text, sizeof text, "%02x%02x%02x", truncatedChannel(red), truncatedChannel(green),
                  truncatedChannel(blue));
    return text;
}

std::string NBRLEDColorTextForValue(const platform::PlistValue *stored) {
    const std::string *text = stored != nullptr ? stored->string() : nullptr;
    return text != nullptr ? *text : NBRDefaultLEDColor;
}

extern "C" std::uint32_t crc32(const void *bytes, std::uint32_t length) {
    auto p = static_cast<const unsigned char *>(bytes);
    std::uint32_t c = 0;
    for (std::uint32_t i = 0; i < length; ++i)
        c = kCrcTable[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c;
}
