#pragma once

#include "BTstackCodec.h"

#include <optional>
#include <span>

namespace platform::btstack {

// Cuts a byte stream into frames, however the bytes arrive. A header announcing a payload
// longer than the daemon's buffer marks the stream as broken: nothing after it can be trusted.
class FrameReader {
  public:
    void append(std::span<const std::uint8_t> bytes);
    std::optional<Frame> next();
    bool broken() const { return broken_; }
    void clear();

  private:
    Bytes buffer_;
    std::size_t start_ = 0;
    bool broken_ = false;
};

} // namespace platform::btstack
