#pragma once

// Routines shared by both plug-ins.

#include "NBRExport.h"
#include "UIColor.h"

#include <cstdint>
#include <string>

// True while an atomic rewrite of the preferences file is under way: its folder holds two or
// more entries whose names begin with the file's name.
extern "C" NBR_EXPORT bool NBRPreferencesFileStillInAtomicWrite(void);

// 0xRRGGBB from hexadecimal text (leading white space and 0x allowed; nothing parsable: 0).
// `hex` may be null, for an absent text.
extern "C" NBR_EXPORT std::uint32_t NBRColorPixelForHexString(const char *hex);

// The opaque colour of that text; each channel is its byte times 1/255.
extern "C" NBR_EXPORT platform::UIColor NBRColorForHexString(const char *hex);

// Six lower-case hexadecimal digits, each channel times 255 truncated toward zero.
NBR_EXPORT std::string NBRStringColorForUIColor(const platform::UIColor &color);

// The reflected CRC-32 (polynomial 0xEDB88320) without the initial and final inversion.
extern "C" NBR_EXPORT std::uint32_t crc32(const void *bytes, std::uint32_t length);
