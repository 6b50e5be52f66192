#pragma once

// Groups layer changes. Layers here never animate implicitly, so disabling actions only records
// the caller's intent; the nesting is per thread, as on the platform.
class CATransaction {
public:
    static void begin();
    static void commit();
    static void setDisableActions(bool disable);
    static bool disableActions();
};
