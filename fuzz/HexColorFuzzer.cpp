// The hex colour parser: any text gives a pixel of 24 bits; the colour made from it writes
// back as six lower-case digits, each channel the same byte or, where 1/255 rounds down, one
// less; and those digits read back as what they say.
#include "FuzzCheck.h"
#include "NBRSupport.h"

#include <cstdio>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size); // cut at a NUL, as C text
    const std::uint32_t pixel = NBRColorPixelForHexString(text.c_str());
    NBR_FUZZ_CHECK(pixel <= 0xFFFFFF);
    const platform::UIColor color = NBRColorForHexString(text.c_str());
    NBR_FUZZ_CHECK(color.alpha() == 1.0);
    const std::string written = NBRStringColorForUIColor(color);
    NBR_FUZZ_CHECK(written.size() == 6);
    NBR_FUZZ_CHECK(written.find_first_not_of("0123456789abcdef") == std::string::npos);
    const std::uint32_t back = NBRColorPixelForHexString(written.c_str());
    for (int shift : {16, 8, 0}) {
        const int before = (pixel >> shift) & 0xFF, after = (back >> shift) & 0xFF;
        NBR_FUZZ_CHECK(after == before || after == before - 1);
    }
    char upper[7];
    std::snprintf(upper, sizeof upper, "%06X", back);
    NBR_FUZZ_CHECK(NBRColorPixelForHexString(upper) == back);
    return 0;
}
