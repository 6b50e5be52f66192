#include "TextScanning.h"

#include <limits>

namespace platform {
namespace {

std::string_view afterWhiteSpace(std::string_view text) {
    while (std::size_t n = whiteSpaceLength(text))
        text.remove_prefix(n);
    return text;
}

} // namespace

std::size_t whiteSpaceLength(std::string_view text) {
    auto at = [&](std::size_t i) -> unsigned char {
        return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
    };
    switch (at(0)) {
    case ' ':
    case '\t':
    case '\n':
    case '\v':
    case '\f':
    case '\r':
        return 1;
    case 0xC2: // U+0085, U+00A0
        return (at(1) == 0x85 || at(1) == 0xA0) ? 2 : 0;
    case 0xE1: // U+1680
        return (at(1) == 0x9A && at(2) == 0x80) ? 3 : 0;
    case 0xE2: // U+2000..U+200A, U+2028, U+2029, U+202F, U+205F
        if (at(1) == 0x80 &&
            ((at(2) >= 0x80 && at(2) <= 0x8A) || at(2) == 0xA8 || at(2) == 0xA9 || at(2) == 0xAF))
            return 3;
        return (at(1) == 0x81 && at(2) == 0x9F) ? 3 : 0;
    case 0xE3: // U+3000
        return (at(1) == 0x80 && at(2) == 0x80) ? 3 : 0;
    default:
        return 0;
    }
}

std::int64_t integerValueOfText(std::string_view text) {
    text = afterWhiteSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    const std::uint64_t limit = negative ? std::uint64_t(kMax) + 1 : std::uint64_t(kMax);
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        const unsigned digit = static_cast<unsigned>(c - '0');
        if (value > (limit - digit) / 10)
            return negative ? std::numeric_limits<std::int64_t>::min() : kMax;
        value = value * 10 + digit;
    }
    return negative ? static_cast<std::int64_t>(0 - value) : static_cast<std::int64_t>(value);
}

bool boolValueOfText(std::string_view text) {
    text = afterWhiteSpace(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-'))
        text.remove_prefix(1);
    while (!text.empty() && text.front() == '0')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    const char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

} // namespace platform
