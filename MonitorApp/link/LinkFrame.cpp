#include "MonitorApp/link/LinkFrame.h"

#include <string>

namespace quenbril {

namespace {

int32_t readLittleEndian32(const uint8_t* p) {
    uint32_t u =
        uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
    return static_cast<int32_t>(u);
}

void writeLittleEndian32(int32_t value, uint8_t* p) {
    uint32_t u = static_cast<uint32_t>(value);
    p[0] = static_cast<uint8_t>(u);
    p[1] = static_cast<uint8_t>(u >> 8);
    p[2] = static_cast<uint8_t>(u >> 16);
    p[3] = static_cast<uint8_t>(u >> 24);
}

}  // namespace

LinkFrameHeader LinkFrameHeader::decode(const uint8_t* bytes) {
    return {readLittleEndian32(bytes), readLittleEndian32(bytes + 4)};
}

std::array<uint8_t, LinkFrameHeader::kSize> LinkFrameHeader::encode() const {
    std::array<uint8_t, kSize> out{};
    writeLittleEndian32(marker, out.data());
    writeLittleEndian32(length, out.data() + 4);
    return out;
}

LinkFrameHeader LinkFrameHeader::forBody(LinkPeer writer, int32_t bodyLength) {
    return {writer == LinkPeer::Remote ? kRemoteMarker : kServerMarker, bodyLength};
}

LinkFrameHeader::Verdict LinkFrameHeader::check(LinkPeer reader, int32_t maxLength) const {
    if (reader == LinkPeer::Remote) {
        if (marker != kServerMarker || length <= kRemoteMinimumExclusive) return Verdict::Drop;
        return length > maxLength ? Verdict::TooLong : Verdict::ReadBody;
    }
    if (length <= 0) return Verdict::BadLength;
    return length > maxLength ? Verdict::TooLong : Verdict::ReadBody;
}

Error LinkFrameHeader::error(Verdict verdict, int32_t maxLength) const {
    if (verdict == Verdict::TooLong) {
        return Error::make(kErrorDomain, kTooLong,
                           "Link frame of " + std::to_string(length) +
                               " bytes is over the limit of " + std::to_string(maxLength) +
                               " bytes");
    }
    return Error::make(kErrorDomain, kBadLength,
                       "Link frame header with length " + std::to_string(length) + " (marker " +
                           std::to_string(marker) + ")");
}

std::optional<Bytes> makeLinkFrame(LinkPeer writer, const Bytes& body, Error* error) {
    if (body.size() > static_cast<size_t>(LinkFrameHeader::kMaxLength)) {
        if (error) {
            *error = Error::make(
                LinkFrameHeader::kErrorDomain, LinkFrameHeader::kBodyTooLong,
                "Link message of " + std::to_string(body.size()) + " bytes is too long to send");
        }
        return std::nullopt;
    }
    auto header = LinkFrameHeader::forBody(writer, static_cast<int32_t>(body.size())).encode();
    Bytes frame;
    frame.reserve(header.size() + body.size());
    frame.insert(frame.end(), header.begin(), header.end());
    frame.insert(frame.end(), body.begin(), body.end());
    return frame;
}

}  // namespace quenbril
