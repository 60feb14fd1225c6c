#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Value.h"
#include "simserver/SimChatMessage.h"

namespace quenbril {

/// The chat of the stand-in: who is registered on which connection, and the history of the
/// messages it relayed. The history is bounded in bytes as well as in count, so that its frame
/// fits a remote's write queue with room to spare.
class SimChat {
  public:
    /// The history keeps this many messages, the newest.
    static constexpr size_t kHistoryLimit = 200;
    /// Bytes of one message: its relayed frame, and the text the history keeps of it. A
    /// larger message is refused.
    static constexpr size_t kMaxMessageBytes = 16 * 1024;
    /// Bytes of the history as historyCost() counts them; new messages push out the oldest
    /// beyond this.
    static constexpr size_t kMaxHistoryBytes = 256 * 1024;
    /// Bytes a message adds to "ChatMessageHistory" besides its text (its object, date and
    /// type), with room to spare.
    static constexpr size_t kMessageOverhead = 128;
    /// Bytes of a chat name, a user's uuid, a message id or a marker's name that the server
    /// takes from a remote (it refuses longer ones: they would be sent to every remote).
    static constexpr size_t kMaxNameBytes = 256;
    static constexpr const char* kAll = "All";
    /// Users' colours are entries 1 to 8 of the chat palette (0 is for messages without a
    /// sender).
    static constexpr size_t kPaletteSize = 8;

    struct Client {
        uint64_t connection = 0;
        std::string chatName, ip, uuid;
        /// The user's entry of the chat palette (1 to 8), kept while the user stays.
        int colorIndex = 1;
    };

    /// Registers (or renames) the chat user of a connection. True when the connection was not
    /// registered before.
    bool registerClient(uint64_t connection, const std::string& chatName, const std::string& ip,
                        const std::string& uuid);
    /// False when the connection was not registered.
    bool removeClient(uint64_t connection);
    const Client* client(uint64_t connection) const;
    const std::vector<Client>& clients() const { return clients_; }

    /// The connections a message from `sender` to `recipient` goes to: every registered user
    /// for "All" (or no recipient), else the users of that chat name; the sender always.
    std::vector<uint64_t> addressees(const std::string& recipient, uint64_t sender) const;

    /// Files a relayed message (the "ChatMessageFromClient" dictionary) with the date `now`;
    /// false (and nothing filed) when its text holds more than kMaxMessageBytes.
    bool addToHistory(const Dictionary& message, double now);
    /// What the history costs together (at most kMaxHistoryBytes).
    size_t historyBytes() const { return historyBytes_; }
    /// What one message costs in "ChatMessageHistory", at most.
    static size_t historyCost(const SimChatMessage& message);
    /// Marks the first message whose id contains `messageId` as removed; false when none.
    bool removeMessage(const std::string& messageId);

    /// "ChatClients".
    Dictionary clientsMessage() const;
    /// "ChatColors": each user's palette index by chat name, and ("NValue") the palette's
    /// colour by the user's chat id (users without one are left out of it).
    Dictionary colorsMessage() const;
    /// "ChatMessageHistory": the archived messages.
    Dictionary historyMessage() const;

  private:
    std::vector<Client> clients_;
    std::deque<std::shared_ptr<SimChatMessage>> history_;
    size_t historyBytes_ = 0;
};

}  // namespace quenbril
