#pragma once

#include "SBApplication.h"

#include <memory>

// SpringBoard's application object: knows which application is in front (none on the home
// screen). Used on the main thread only.
class SB_EXPORT SpringBoard {
  public:
    std::shared_ptr<SBApplication> _accessibilityFrontMostApplication() const { return frontMost_; }
    // The host's side (and its tests'): none for the home screen.
    void setFrontMostApplication(std::shared_ptr<SBApplication> application) {
        frontMost_ = std::move(application);
    }

  private:
    std::shared_ptr<SBApplication> frontMost_;
};

// The process's application object, as the platform offers it to plug-ins.
extern SB_EXPORT SpringBoard *const UIApp;
