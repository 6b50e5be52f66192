#pragma once

// Exported from a plug-in under its plain name; calls from inside the plug-in stay inside it,
// so a same-named routine elsewhere in the process (zlib's crc32) never takes their place.
#define NBR_EXPORT __attribute__((visibility("protected")))
