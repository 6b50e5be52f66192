#pragma once

// Routines shared by both plug-ins.

#include "NBRExport.h"
#include "PlistValue.h"
#include "UIColor.h"

#include <cstdint>
#include <string>

// True while an atomic rewrite of the preferences file is under way: its folder holds two or
// more entries whose names begin with the file's name.
extern "C" NBR_EXPORT bool NBRPreferencesFileStillInAtomicWrite(void);

// 0xRRGGBB from hexadecimal text (leading white space and 0x allowed; nothing parsable: 0).
// `hex` may be null, for an absent text.
extern "C" NBR_EXPORT std::uint32_t NBRColorPixelForHexString(const char *hex);

// The colour routines hand C++ values across their plain names, as the platform's objects are
// handed across on the device.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif
// The opaque colour of that text; each channel is its byte times 1/255.
extern "C" NBR_BUNDLE_EXPORT platform::UIColor NBRColorForHexString(const char *hex);

// Six lower-case hexadecimal digits, each channel times 255 truncated toward zero. Unmangled like
// the others, so it is found by its plain name.
extern "C" NBR_BUNDLE_EXPORT std::string NBRStringColorForUIColor(const platform::UIColor &color);
#ifdef __clang__
#pragma clang diagnostic pop
#endif

// The light-bar colour text of a stored "NBRLEDColorKey" value (null when absent): the text
// itself, or NBRDefaultLEDColor for anything that is not text, so a number is never read as hex.
std::string NBRLEDColorTextForValue(const platform::PlistValue *stored);

// The reflected CRC-32 (polynomial 0xEDB88320) without the initial and final inversion.
extern "C" NBR_EXPORT std::uint32_t crc32(const void *bytes, std::uint32_t length);
