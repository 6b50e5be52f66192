#pragma once

// The host's API stays visible to plug-ins built with hidden symbols, so both sides agree on
// its types (a class object found by name is cast to its real type).
#define SB_EXPORT __attribute__((visibility("default")))
