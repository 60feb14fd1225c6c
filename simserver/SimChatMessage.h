#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "foundation/Value.h"

namespace quenbril {

class ArchiveClassRegistry;

/// A chat message as the stand-in keeps it in its history and archives it, under the class
/// name "ChatMessage", in "ChatMessageHistory".
class SimChatMessage : public Object {
  public:
    static constexpr const char* kClassName = "ChatMessage";

    std::optional<std::string> sender, recipient, uuid, message, messageId;
    double date = 0;  // seconds since 2001-01-01
    int32_t messageType = 0;

    std::string className() const override { return kClassName; }

    /// Registers the archiving of "ChatMessage" objects in `registry`: the object keys
    /// "sender", "recipient", "uuid", "message", "messageId" (each only when present), "date",
    /// and the integer "messageType".
    static void registerEncoder(ArchiveClassRegistry& registry);
};

}  // namespace quenbril
