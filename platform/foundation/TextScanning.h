#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace platform {

// How the platform's strings read themselves as numbers and truth values, so that text stored
// where a number belongs reads the same in every process.

// Length in bytes of the white-space or line-end character (UTF-8) at the start of `text`, or
// 0: ASCII spacing and Unicode's separators, the characters the platform's scanners skip.
std::size_t whiteSpaceLength(std::string_view text);

// integerValue: white space, an optional sign, then decimal digits up to the first other
// character ("5.9" gives 5, "x" gives 0); a number past the 64-bit range gives that limit.
std::int64_t integerValueOfText(std::string_view text);

// boolValue: white space, an optional sign and leading zeros, then "Y", "y", "T", "t" or a digit
// 1-9 is true ("YES", "true", "7"); anything else is false ("NO", "0", "").
bool boolValueOfText(std::string_view text);

} // namespace platform
