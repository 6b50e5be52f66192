#pragma once

#include "SBApplication.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

// SpringBoard's application object: knows which application is in front (none on the home
// screen). Used on the main thread only.
class SB_EXPORT SpringBoard {
  public:
    std::shared_ptr<SBApplication> _accessibilityFrontMostApplication() const { return frontMost_; }
    // The host's side (and its tests'): none for the home screen.
    void setFrontMostApplication(std::shared_ptr<SBApplication> application) {
        frontMost_ = std::move(application);
    }

    // The installed applications a banner can name: bundle identifier -> how the home screen
    // shows it. The host fills it at start.
    struct InstalledApplication {
        std::string displayName;
        std::string iconPath; // empty: none
    };
    void setInstalledApplication(const std::string &bundleID, InstalledApplication application) {
        installed_[bundleID] = std::move(application);
    }
    std::optional<InstalledApplication> installedApplication(const std::string &bundleID) const {
        auto it = installed_.find(bundleID);
        return it == installed_.end() ? std::nullopt : std::optional(it->second);
    }

  private:
    std::shared_ptr<SBApplication> frontMost_;
    std::map<std::string, InstalledApplication> installed_;
};

// The process's application object, as the platform offers it to plug-ins.
extern SB_EXPORT SpringBoard *const UIApp;
