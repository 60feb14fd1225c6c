#include "MonitorApp/link/LinkFrameReader.h"

#include <algorithm>

namespace quenbril {

namespace {
// Room made for a body up front: enough for every ordinary message in one go, small enough
// that a lying header costs nothing.
constexpr size_t kInitialBodyCapacity = 64 * 1024;
}  // namespace

LinkFrameReader::LinkFrameReader(LinkPeer reader, int32_t maxLength)
    : reader_(reader), maxLength_(std::clamp(maxLength, 1, LinkFrameHeader::kMaxLength)) {}

void LinkFrameReader::feed(const void* bytes, size_t length) {
    auto p = static_cast<const uint8_t*>(bytes);
    auto end = p + length;
    while (p < end && !failed_) {
        if (!inBody_) {
            size_t n = std::min(LinkFrameHeader::kSize - headerFill_, static_cast<size_t>(end - p));
            std::copy(p, p + n, header_ + headerFill_);
            headerFill_ += n;
            p += n;
            if (headerFill_ == LinkFrameHeader::kSize) takeHeader();
            continue;
        }
        size_t n = std::min(bodyLength_ - body_.size(), static_cast<size_t>(end - p));
        body_.insert(body_.end(), p, p + n);
        p += n;
        if (body_.size() == bodyLength_) {
            frames_.push_back(LinkFrame{marker_, std::move(body_)});
            body_ = Bytes();
            inBody_ = false;
        }
    }
}

void LinkFrameReader::takeHeader() {
    headerFill_ = 0;
    auto header = LinkFrameHeader::decode(header_);
    switch (auto verdict = header.check(reader_, maxLength_)) {
        case LinkFrameHeader::Verdict::ReadBody:
            inBody_ = true;
            marker_ = header.marker;
            bodyLength_ = static_cast<size_t>(header.length);
            body_.reserve(std::min(bodyLength_, kInitialBodyCapacity));
            return;
        case LinkFrameHeader::Verdict::Drop:
            ++droppedHeaders_;
            return;
        case LinkFrameHeader::Verdict::TooLong:
        case LinkFrameHeader::Verdict::BadLength:
            failed_ = true;
            error_ = header.error(verdict, maxLength_);
            return;
    }
}

std::optional<LinkFrame> LinkFrameReader::takeFrame() {
    if (frames_.empty()) return std::nullopt;
    LinkFrame frame = std::move(frames_.front());
    frames_.pop_front();
    return frame;
}

}  // namespace quenbril
