#pragma once

#include "SpringBoardExport.h"

#include <optional>
#include <string>

// A bulletin to be shown: what a banner says, and the section (application) it belongs to.
class SB_EXPORT BBBulletinRequest {
  public:
    void setMessage(std::optional<std::string> message) { message_ = std::move(message); }
    const std::optional<std::string> &message() const { return message_; }

    void setSectionID(std::optional<std::string> sectionID) { sectionID_ = std::move(sectionID); }
    const std::optional<std::string> &sectionID() const { return sectionID_; }

    void setTitle(std::optional<std::string> title) { title_ = std::move(title); }
    const std::optional<std::string> &title() const { return title_; }

  private:
    std::optional<std::string> message_;
    std::optional<std::string> sectionID_;
    std::optional<std::string> title_;
};
