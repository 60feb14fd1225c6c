#include "simserver/SimChatMessage.h"

#include "foundation/ArchiveClassRegistry.h"

namespace quenbril {

void SimChatMessage::registerEncoder(ArchiveClassRegistry& registry) {
    registry.registerEncoder(kClassName, [](const Object& object, KeyedEncoder& encoder) {
        auto m = dynamic_cast<const SimChatMessage*>(&object);
        if (!m) return false;
        auto put = [&](std::string_view key, const std::optional<std::string>& text) {
            if (text) encoder.encodeObject(key, Value(*text));
        };
        put("sender", m->sender);
        put("recipient", m->recipient);
        put("uuid", m->uuid);
        put("message", m->message);
        put("messageId", m->messageId);
        encoder.encodeObject("date", Value::date(m->date));
        encoder.encodeInt32("messageType", m->messageType);
        return true;
    });
}

}  // namespace quenbril
