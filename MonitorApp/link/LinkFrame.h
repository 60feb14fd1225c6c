#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// The two ends of the server link. A frame's writer decides its marker; a frame's reader
/// decides which headers it accepts.
enum class LinkPeer { Remote, Server };

/// The 8-byte header in front of every link frame: a signed marker and a signed body length,
/// both little-endian 32-bit integers.
struct LinkFrameHeader {
    static constexpr size_t kSize = 8;
    /// Marker of frames the remote writes.
    static constexpr int32_t kRemoteMarker = 0;
    /// Marker of frames a server writes; the only marker the remote reads a body for.
    static constexpr int32_t kServerMarker = 123;
    /// Bodies the remote takes are longer than this; a shorter announced length is dropped.
    static constexpr int32_t kRemoteMinimumExclusive = 3;
    /// The largest body either end accepts (16 MiB). A longer announced length is an error of
    /// the connection: the stream cannot be trusted past it.
    static constexpr int32_t kMaxLength = 16 * 1024 * 1024;

    static constexpr const char* kErrorDomain = "LinkFrameErrorDomain";
    enum ErrorCode { kTooLong = 1, kBadLength = 2, kBodyTooLong = 3 };

    /// What a reader does with a header it has just read.
    enum class Verdict {
        ReadBody,  ///< read `length` body bytes next
        Drop,      ///< ignore these 8 bytes; the next 8 are the next header
        TooLong,   ///< the connection must be closed
        BadLength  ///< the connection must be closed (a server reading a length of 0 or less)
    };

    int32_t marker = 0;
    int32_t length = 0;

    static LinkFrameHeader decode(const uint8_t* bytes);
    std::array<uint8_t, kSize> encode() const;

    /// The header a writer puts in front of `bodyLength` bytes.
    static LinkFrameHeader forBody(LinkPeer writer, int32_t bodyLength);

    /// The remote takes a body only for marker 123 and a length above 3 and drops every other
    /// header. A server takes any marker with a length of 1 up to the cap. Both refuse a length
    /// over `maxLength`.
    Verdict check(LinkPeer reader, int32_t maxLength = kMaxLength) const;
    /// The error a reader reports for a header that `check` answered TooLong or BadLength.
    Error error(Verdict verdict, int32_t maxLength = kMaxLength) const;
};

/// Header and body as one buffer, for writers that send a frame in one piece. Nothing (and
/// `error` set) when the body is over the cap, which no reader would accept.
std::optional<Bytes> makeLinkFrame(LinkPeer writer, const Bytes& body, Error* error = nullptr);

/// One frame as a reader hands it on: the header's marker and the whole body.
struct LinkFrame {
    int32_t marker = 0;
    Bytes body;
    bool operator==(const LinkFrame&) const = default;
};

}  // namespace quenbril
