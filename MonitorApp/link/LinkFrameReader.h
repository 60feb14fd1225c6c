#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

#include "MonitorApp/link/LinkFrame.h"
#include "foundation/Error.h"

namespace quenbril {

/// Cuts a byte stream of the link into frames. A pure state machine: bytes go in as they
/// arrive, in chunks of any size, and whole frames come out in order.
///
/// The reading side decides which headers are taken (LinkFrameHeader::check): on the remote's
/// side a dropped header is skipped and the next 8 bytes are the next header (there is no
/// resynchronisation). A header that is an error of the connection (a length over the cap; on
/// a server's side also a length of 0 or less) stops the reader for good: later bytes are
/// ignored and the owner closes the connection. The body buffer grows with the bytes that
/// arrive, never by the length a header announces.
class LinkFrameReader {
  public:
    explicit LinkFrameReader(LinkPeer reader, int32_t maxLength = LinkFrameHeader::kMaxLength);

    /// Takes the next bytes of the stream. Complete frames queue up for takeFrame().
    void feed(const void* bytes, size_t length);

    bool hasFrame() const { return !frames_.empty(); }
    /// The oldest complete frame, nothing when none is waiting.
    std::optional<LinkFrame> takeFrame();

    /// True once a header was an error of the connection; error() says which.
    bool failed() const { return failed_; }
    const Error& error() const { return error_; }

    /// Headers dropped so far (remote's side).
    uint64_t droppedHeaders() const { return droppedHeaders_; }
    /// Bytes of the frame in progress (header or body) received so far.
    size_t pendingBytes() const { return inBody_ ? body_.size() : headerFill_; }
    /// True from the first byte of a frame's header to the last byte of its body (also when
    /// the header is complete and no body byte has come yet).
    bool inFrame() const { return inBody_ || headerFill_ > 0; }

  private:
    void takeHeader();

    LinkPeer reader_;
    int32_t maxLength_;
    uint8_t header_[LinkFrameHeader::kSize] = {};
    size_t headerFill_ = 0;
    bool inBody_ = false;
    int32_t marker_ = 0;
    size_t bodyLength_ = 0;
    Bytes body_;
    std::deque<LinkFrame> frames_;
    bool failed_ = false;
    Error error_;
    uint64_t droppedHeaders_ = 0;
};

}  // namespace quenbril
