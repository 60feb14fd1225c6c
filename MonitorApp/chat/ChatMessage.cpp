#include "MonitorApp/chat/ChatMessage.h"

#include <memory>

#include "foundation/Log.h"
#include "foundation/NumberRange.h"

namespace quenbril {

namespace {

/// A string member; one of another kind reads as missing.
std::optional<std::string> stringMember(KeyedDecoder& decoder, const char* key) {
    Value v = decoder.decodeObject(key);
    if (const std::string* s = v.stringValue()) return *s;
    if (!v.isNull()) {
        log(LogLevel::Warning, "ChatMessage: \"%s\" is %s, read as missing", key,
            Value::kindName(v.kind()));
    }
    return std::nullopt;
}

}  // namespace

void ChatMessage::registerArchiveDecoder(ArchiveClassRegistry& registry) {
    registry.registerDecoder(kClassName, [](KeyedDecoder& decoder) -> std::optional<Value> {
        auto m = std::make_shared<ChatMessage>();
        m->sender_ = stringMember(decoder, "sender");
        m->recipient_ = stringMember(decoder, "recipient");
        m->uuid_ = stringMember(decoder, "uuid");
        m->message_ = stringMember(decoder, "message");
        m->messageId_ = stringMember(decoder, "messageId");
        // Archived as a 32-bit integer and widened (with its sign) into the 64-bit field.
        m->messageType_ = static_cast<uint64_t>(int64_t{decoder.decodeInt32("messageType")});
        m->date_ = dateInRange(decoder.decodeObject("date"));
        if (decoder.failed()) return std::nullopt;
        return Value(std::shared_ptr<const Object>(std::move(m)));
    });
}

bool ChatMessage::isEqual(const Object& other) const {
    const auto* o = dynamic_cast<const ChatMessage*>(&other);
    return o && messageId_ == o->messageId_ && message_ == o->message_ && uuid_ == o->uuid_ &&
           sender_ == o->sender_ && recipient_ == o->recipient_ && date_ == o->date_ &&
           messageType_ == o->messageType_;
}

bool ChatMessage::isAlertReset() const {
    return message_ && (*message_ == "Alert reseted" || *message_ == "Alert reset");
}

}  // namespace quenbril
