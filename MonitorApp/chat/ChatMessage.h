#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "foundation/ArchiveClassRegistry.h"
#include "foundation/Value.h"

namespace quenbril {

/// One chat message. Messages reach the remote as dictionaries ("ChatMessageFromServer") and,
/// in a history ("ChatMessageHistory"), as archived objects of class "ChatMessage"; this
/// program only decodes the archived form. Any field may be missing.
class ChatMessage : public Object {
  public:
    static constexpr const char* kClassName = "ChatMessage";
    /// The text and chat id a removed message keeps.
    static constexpr const char* kRemovedText = "<message removed>";
    static constexpr const char* kRemovedUUID = "message_removed";

    /// Message types.
    enum Type : uint64_t { kText = 0, kSCPAlert = 1, kAlert = 3, kSnapshotChanged = 4, kPage = 5 };

    /// Installs the decoder of "ChatMessage" in `registry` (replacing any other). Harmless to
    /// call more than once.
    static void registerArchiveDecoder(
        ArchiveClassRegistry& registry = ArchiveClassRegistry::shared());

    std::string className() const override { return kClassName; }
    bool isEqual(const Object& other) const override;

    /// An alert reset is told by its text alone, whatever its type.
    bool isAlertReset() const;

    const std::optional<std::string>& messageId() const { return messageId_; }
    void setMessageId(std::optional<std::string> v) { messageId_ = std::move(v); }
    const std::optional<std::string>& message() const { return message_; }
    void setMessage(std::optional<std::string> v) { message_ = std::move(v); }
    const std::optional<std::string>& uuid() const { return uuid_; }
    void setUuid(std::optional<std::string> v) { uuid_ = std::move(v); }
    const std::optional<std::string>& sender() const { return sender_; }
    void setSender(std::optional<std::string> v) { sender_ = std::move(v); }
    const std::optional<std::string>& recipient() const { return recipient_; }
    void setRecipient(std::optional<std::string> v) { recipient_ = std::move(v); }
    /// Seconds since 2001-01-01.
    const std::optional<double>& date() const { return date_; }
    void setDate(std::optional<double> v) { date_ = v; }
    uint64_t messageType() const { return messageType_; }
    void setMessageType(uint64_t v) { messageType_ = v; }

  private:
    std::optional<std::string> messageId_;
    std::optional<std::string> message_;
    std::optional<std::string> uuid_;
    std::optional<std::string> sender_;
    std::optional<std::string> recipient_;
    std::optional<double> date_;
    uint64_t messageType_ = kText;
};

}  // namespace quenbril
