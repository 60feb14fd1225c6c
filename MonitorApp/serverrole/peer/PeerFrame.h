#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

/// The peer link's frames: a 1-byte kind, a 4-byte little-endian length and that many bytes.
/// A session's connection opens with a greeting both ways and then carries messages; a stream's
/// connection opens with one stream frame and then carries the stream's bytes unframed.
class PeerFrame {
  public:
    enum Kind : uint8_t {
        /// Bytes sent to the peer.
        kMessage = 0,
        /// The sender's listening port (2 bytes, little-endian), its identifier (8 bytes,
        /// little-endian) and its display name.
        kGreeting = 1,
        /// The sender's identifier (8 bytes, little-endian) and the stream's name.
        kStream = 2,
    };
    static constexpr size_t kHeaderSize = 5;
    /// Longer frames end the connection: a peer cannot make us hold more than this.
    static constexpr size_t kMaxPayload = 64 * 1024;

    struct Greeting {
        uint16_t port = 0;
        uint64_t identifier = 0;
        std::string displayName;
    };
    struct StreamOpening {
        uint64_t identifier = 0;
        std::string name;
    };

    static Bytes encode(Kind kind, const uint8_t* payload, size_t length);
    static Bytes encode(Kind kind, const Bytes& payload) {
        return encode(kind, payload.data(), payload.size());
    }
    static Bytes greeting(const Greeting& greeting);
    static Bytes streamOpening(const StreamOpening& opening);
    static std::optional<Greeting> parseGreeting(const Bytes& payload);
    static std::optional<StreamOpening> parseStreamOpening(const Bytes& payload);

    /// What `next` found at the front of a buffer.
    enum class Result { Frame, NeedMore, TooLong };
    /// Takes the first whole frame off `buffer` into `kind` and `payload`. TooLong when its
    /// length is over kMaxPayload, whatever follows.
    static Result next(Bytes& buffer, uint8_t& kind, Bytes& payload);
};

}  // namespace quenbril
