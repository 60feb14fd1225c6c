#include "MonitorApp/link/LinkCodec.h"

#include "foundation/KeyedArchiver.h"
#include "foundation/KeyedUnarchiver.h"

namespace quenbril {

std::optional<Bytes> LinkCodec::encodeBody(const Dictionary& message, Error* error) {
    return KeyedArchiver::archivedData(Value(message), error);
}

std::optional<Bytes> LinkCodec::encodeFrame(const Dictionary& message, LinkPeer writer,
                                            Error* error) {
    auto body = encodeBody(message, error);
    if (!body) return std::nullopt;
    return makeLinkFrame(writer, *body, error);
}

std::optional<Value> LinkCodec::decodeMessage(const void* bytes, size_t length, Error* error) {
    auto root = KeyedUnarchiver::unarchive(bytes, length, error);
    if (!root) return std::nullopt;
    if (!root->isDictionary()) {
        if (error) {
            *error = Error::make(kErrorDomain, kNotADictionary,
                                 std::string("Link message is ") + Value::kindName(root->kind()) +
                                     ", not a dictionary");
        }
        return std::nullopt;
    }
    return root;
}

std::optional<Dictionary> LinkCodec::decodeBody(const void* bytes, size_t length, Error* error) {
    auto message = decodeMessage(bytes, length, error);
    if (!message) return std::nullopt;
    // Not shared once the archive is read: taken without copying.
    return std::move(message->mutableDictionary());
}

}  // namespace quenbril
