#pragma once

#include "PlistValue.h"
#include "ScopedEnvironment.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform::testing {

// A fresh device root for one test: a short folder under /tmp (UNIX socket paths stay well
// under their limit) with the device's usual folders, set as NIMBREL_ROOT for this process and
// the processes it starts, removed with everything in it at the end.
class TestDeviceRoot {
public:
    TestDeviceRoot();
    ~TestDeviceRoot();

    const std::string &root() const { return root_; }
    // The host path of a device path under this root.
    std::string path(std::string_view devicePath) const;

    // Links a built bundle into the device's preference bundles, where the Settings app finds it.
    void addPreferenceBundle(const std::string &bundleDir) const;
    // Copies a built plug-in into the folder SpringBoard loads its plug-ins from.
    void addSpringBoardPlugin(const std::string &pluginPath) const;

    // Seeds the property list at a device path (a preferences file, say); false when it could
    // not be written.
    bool writePlist(std::string_view devicePath, PlistValue::Dictionary values,
                    PlistFormat format = PlistFormat::XML) const;
    // The property list at a device path; nullopt when it is missing or unreadable.
    std::optional<PlistValue::Dictionary> readPlist(std::string_view devicePath) const;

private:
    std::string root_;
    ScopedEnvironment environment_;
};

// Puts a FIFO at `path`, or a link to one (the FIFO beside it, named `path`.pipe), in place of
// whatever was there: a reader that opens it blindly waits for a writer for ever. False when
// the FIFO cannot be made.
bool placeFifo(const std::string &path, bool throughLink);

// Puts a link at `path` to a property list of `values` beside it (named `path`.elsewhere), in
// place of whatever was there; the linked file's path, empty when it could not be made.
std::string placeLinkToPlist(const std::string &path, PlistValue::Dictionary values,
                             PlistFormat format = PlistFormat::XML);

// Everything in the file at `path` (a host path); empty when there is none.
std::string readFile(const std::string &path);
// How often `part` starts in `text` (overlapping ones counted), as in a log.
int occurrences(const std::string &text, const std::string &part);

} // namespace platform::testing
