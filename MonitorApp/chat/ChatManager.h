#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/chat/ChatClient.h"
#include "MonitorApp/chat/ChatMessage.h"
#include "foundation/Value.h"

namespace quenbril {

class LinkSender;

/// The chat's store, in memory: the chat users the server lists and the messages, oldest first.
/// A new store holds eight empty placeholder messages; a stored message that takes the store
/// past 200 drops the oldest one, while a history from the server replaces the store whole,
/// without limit. Reached through class operations on the shared instance; main thread only.
class ChatManager {
  public:
    using Messages = std::vector<std::shared_ptr<ChatMessage>>;

    static constexpr size_t kMaxMessages = 200;
    static constexpr size_t kPlaceholderCount = 8;
    /// The user-defaults key of this station's chat id.
    static constexpr const char* kUUIDKey = "uuid";

    static ChatManager& sharedInstance();
    /// Tests: drops the shared instance (a restart).
    static void resetSharedInstance();

    /// The placeholders, no users. Makes sure the archive decoder of "ChatMessage" is
    /// registered.
    ChatManager();

    /// Where "ChatRemoveMessage" goes (the server link); none drops it. Not owned.
    static void setLinkSender(LinkSender* sender);

    /// This station's chat id: the stored "uuid", else a new UUID string, stored and returned.
    static std::string uuid();

    static Messages& messages();
    Messages& messageList() { return messages_; }
    std::vector<ChatClient>& chatClients() { return chatClients_; }

    /// Appends a message dated now (the main run loop's clock); when the store then holds more
    /// than 200, the message at index 0 goes (exactly one per call). Posts nothing.
    static void addMessage(std::optional<std::string> message, std::optional<std::string> messageId,
                           std::optional<std::string> sender, std::optional<std::string> uuid,
                           std::optional<std::string> recipient, uint64_t type);

    /// Marks the first message whose id contains `messageId` (ignoring case and accents) as
    /// removed, sends "ChatRemoveMessage" when `shouldSend` (also when nothing matched), and
    /// posts "RefreshChat". A missing or empty id does nothing at all: the command needs an id,
    /// and an empty one would match every message.
    static void removeMessage(const std::optional<std::string>& messageId, bool shouldSend);

    /// Replaces the chat users with the dictionaries {"chatName", "ip", "uuid", "status"} of
    /// `props`, in order; other elements are skipped with a log line.
    static void updateFromProps(const Array& props);

    /// Replaces the store with the messages of a history that are addressed to this user (chat
    /// name `me`) or to "All", or were sent by this user, and whose sender is not empty. Objects
    /// that are not chat messages are skipped with a log line. No limit applies.
    static void updateChatHistory(const std::vector<std::shared_ptr<const Object>>& history,
                                  const std::string& me);

    /// Posts the stored quick-message text "CB <n>" as a "ChatMessage" from `sender` (the
    /// user's chat name) to "All"; nothing when no text is stored.
    static void sendMacro(int32_t n, const std::string& sender);

    // Hosting side.
    static void registerToChat(const std::string& name, const std::string& ip);
    static void removeFromChat(const std::string& ip);
    /// {"chatName", "ip", "uuid"} per user (missing fields are left out).
    static Array clientsProperty();

  private:
    static void logClients();

    Messages messages_;
    std::vector<ChatClient> chatClients_;
};

}  // namespace quenbril
