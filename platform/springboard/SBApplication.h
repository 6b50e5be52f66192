#pragma once

#include "SpringBoardExport.h"

#include <map>
#include <optional>
#include <string>

// An application as SpringBoard knows it. Which identifier methods it has differs between
// systems, so callers ask respondsToSelector first; a method may also answer none.
class SB_EXPORT SBApplication {
  public:
    // selector name ("displayIdentifier", "bundleIdentifier") -> what that method answers
    using Answers = std::map<std::string, std::optional<std::string>>;
    explicit SBApplication(Answers answers) : answers_(std::move(answers)) {}

    bool respondsToSelector(const std::string &selector) const {
        return answers_.count(selector) != 0;
    }
    // Only to be called when respondsToSelector says the method exists.
    std::optional<std::string> displayIdentifier() const { return answer("displayIdentifier"); }
    std::optional<std::string> bundleIdentifier() const { return answer("bundleIdentifier"); }

  private:
    std::optional<std::string> answer(const std::string &selector) const {
        auto it = answers_.find(selector);
        return it == answers_.end() ? std::nullopt : it->second;
    }
    Answers answers_;
};
