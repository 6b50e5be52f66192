#pragma once

// Exported from a plug-in under its plain name; calls from inside the plug-in stay inside it,
// so a same-named routine elsewhere in the process (zlib's crc32) never takes their place.
#define NBR_EXPORT __attribute__((visibility("protected")))

// The conversions to and from the colour object are the settings bundle's alone: the banner
// plug-in builds the same unit and keeps them to itself.
#ifdef NBR_BANNER_PLUGIN
#define NBR_BUNDLE_EXPORT __attribute__((visibility("hidden")))
#else
#define NBR_BUNDLE_EXPORT NBR_EXPORT
#endif
