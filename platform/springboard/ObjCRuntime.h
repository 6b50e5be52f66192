#pragma once

// Classes the host process offers by name, looked up the way the platform's runtime does it:
// a plug-in asks for a name and gets the class object, or none when this host has no such class.

#include "SpringBoardExport.h"

struct SB_EXPORT objc_class {
    virtual ~objc_class() = default;
};
using Class = objc_class *;

// None for a name nobody registered.
SB_EXPORT Class objc_getClass(const char *name);
// The host's side: `cls` stays owned by the host and must outlive its registration.
SB_EXPORT void objc_registerClass(const char *name, Class cls);
SB_EXPORT void objc_unregisterClass(const char *name);
