#pragma once

#include <cstddef>
#include <optional>

#include "MonitorApp/link/LinkFrame.h"
#include "foundation/Error.h"
#include "foundation/Value.h"

namespace quenbril {

/// A link message on the wire: the body of a frame is the keyed archive of the message
/// dictionary.
class LinkCodec {
  public:
    static constexpr const char* kErrorDomain = "LinkMessageErrorDomain";
    enum ErrorCode { kNotADictionary = 1 };

    /// The frame body of `message`.
    static std::optional<Bytes> encodeBody(const Dictionary& message, Error* error = nullptr);
    /// Header and body in one buffer, with the writer's marker.
    static std::optional<Bytes> encodeFrame(const Dictionary& message, LinkPeer writer,
                                            Error* error = nullptr);
    /// The message of a frame body. Nothing (and `error` set) when the body is not a keyed
    /// archive or its root is not a dictionary: the link drops such a frame.
    static std::optional<Dictionary> decodeBody(const void* bytes, size_t length,
                                                Error* error = nullptr);
    static std::optional<Dictionary> decodeBody(const Bytes& body, Error* error = nullptr) {
        return decodeBody(body.data(), body.size(), error);
    }
    /// The same message as a dictionary value, as the link hands it on (no copy of the
    /// dictionary into a value of its own).
    static std::optional<Value> decodeMessage(const void* bytes, size_t length,
                                              Error* error = nullptr);
};

}  // namespace quenbril
