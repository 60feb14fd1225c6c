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
/// past 200 drops the oldest one, and a history from the server replaces the store with its
/// newest 200. A message's text and names are bounded (a server could otherwise fill the
/// memory, and the window that lays them out); one over its bounds is refused with a log line.
/// Reached through class operations on the shared instance; main thread only.
class ChatManager {
  public:
    using Messages = std::vector<std::shared_ptr<ChatMessage>>;

    static constexpr size_t kMaxMessages = 200;
    static constexpr size_t kPlaceholderCount = 8;
    /// Bytes of a message's text, as the server bounds what it relays.
    static constexpr size_t kMaxTextBytes = 16 * 1024;
    /// Bytes of a message id, a chat id or a chat name (ids are UUIDs of 36 characters).
    static constexpr size_t kMaxNameBytes = 256;
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

    /// The first field of a message that is over its bound ("message" over kMaxTextBytes, an
    /// id or name over kMaxNameBytes); none when every field is within.
    static const char* overLongField(const ChatMessage& message);
    /// The same for a message in the link's form (the "Value" of "ChatMessageFromServer"),
    /// read where it lies; a field of another kind counts as missing.
    static const char* overLongField(const Dictionary& message);

    /// Appends a message dated now (the main run loop's clock); when the store then holds more
    /// than 200, the message at index 0 goes (exactly one per call). Posts nothing. A message
    /// with a field over its bound is refused (false) with a log line.
    static bool addMessage(std::optional<std::string> message, std::optional<std::string> messageId,
                           std::optional<std::string> sender, std::optional<std::string> uuid,
                           std::optional<std::string> recipient, uint64_t type);

    /// Marks the first message whose id contains `messageId` (ignoring case and accents) as
    /// removed, sends "ChatRemoveMessage" when `shouldSend` (also when nothing matched), and
    /// posts "RefreshChat". A missing or empty id does nothing at all: the command needs an id,
    /// and an empty one would match every message; nor does an id over kMaxNameBytes (logged).
    /// With `shouldSend`, while the link refuses to send (the server is not here), nothing is
    /// sent or marked: false, and the caller says so. True otherwise.
    static bool removeMessage(const std::optional<std::string>& messageId, bool shouldSend);

    /// Replaces the chat users with the dictionaries {"chatName", "ip", "uuid", "status"} of
    /// `props`, in order; other elements, and users with a field over kMaxNameBytes, are
    /// skipped with a log line.
    static void updateFromProps(const Array& props);

    /// Replaces the store with the messages of a history that are addressed to this user (chat
    /// name `me`) or to "All", or were sent by this user, and whose sender is not empty; of
    /// those the newest kMaxMessages. Objects that are not chat messages, and messages over the
    /// bounds, are skipped with a log line.
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
