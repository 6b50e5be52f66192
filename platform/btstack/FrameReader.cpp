#include "FrameReader.h"

namespace platform::btstack {

void FrameReader::append(std::span<const std::uint8_t> bytes) {
    if (broken_)
        return;
    if (start_ > 0 && start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
}

std::optional<Frame> FrameReader::next() {
    if (broken_)
        return std::nullopt;
    std::span<const std::uint8_t> pending(buffer_.data() + start_, buffer_.size() - start_);
    if (pending.size() < kFrameHeaderSize)
        return std::nullopt;
    std::size_t length = *readLE16(pending, 4);
    if (length > kMaxPayloadSize) {
        broken_ = true;
        return std::nullopt;
    }
    if (pending.size() < kFrameHeaderSize + length)
        return std::nullopt;
    Frame frame;
    frame.type = *readLE16(pending, 0);
    frame.channel = *readLE16(pending, 2);
    frame.payload.assign(pending.begin() + kFrameHeaderSize,
                         pending.begin() + kFrameHeaderSize + length);
    start_ += kFrameHeaderSize + length;
    if (start_ == buffer_.size()) {
        buffer_.clear();
        start_ = 0;
    }
    return frame;
}

void FrameReader::clear() {
    buffer_.clear();
    start_ = 0;
    broken_ = false;
}

} // namespace platform::btstack
