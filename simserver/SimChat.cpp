#include "simserver/SimChat.h"

#include <algorithm>

#include "MonitorApp/chat/TextSearch.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/settings/ColorHelper.h"

namespace quenbril {

bool SimChat::registerClient(uint64_t connection, const std::string& chatName,
                             const std::string& ip, const std::string& uuid) {
    for (Client& c : clients_) {
        if (c.connection == connection) {
            c.chatName = chatName;
            c.uuid = uuid;
            return false;
        }
    }
    // A newcomer takes the first palette entry nobody has; with all eight taken, they repeat.
    int colorIndex = static_cast<int>(clients_.size() % kPaletteSize) + 1;
    for (int index = 1; index <= static_cast<int>(kPaletteSize); ++index) {
        if (std::none_of(clients_.begin(), clients_.end(),
                         [index](const Client& c) { return c.colorIndex == index; })) {
            colorIndex = index;
            break;
        }
    }
    clients_.push_back({connection, chatName, ip, uuid, colorIndex});
    return true;
}

bool SimChat::removeClient(uint64_t connection) {
    auto it = std::remove_if(clients_.begin(), clients_.end(),
                             [&](const Client& c) { return c.connection == connection; });
    bool found = it != clients_.end();
    clients_.erase(it, clients_.end());
    return found;
}

const SimChat::Client* SimChat::client(uint64_t connection) const {
    for (const Client& c : clients_) {
        if (c.connection == connection) return &c;
    }
    return nullptr;
}

std::vector<uint64_t> SimChat::addressees(const std::string& recipient, uint64_t sender) const {
    std::vector<uint64_t> out{sender};
    bool all = recipient.empty() || recipient == kAll;
    for (const Client& c : clients_) {
        if (c.connection != sender && (all || c.chatName == recipient)) {
            out.push_back(c.connection);
        }
    }
    return out;
}

size_t SimChat::historyCost(const SimChatMessage& m) {
    size_t bytes = kMessageOverhead;
    for (const auto* text : {&m.sender, &m.recipient, &m.uuid, &m.message, &m.messageId}) {
        if (*text) bytes += (*text)->size();
    }
    return bytes;
}

bool SimChat::addToHistory(const Dictionary& message, double now) {
    auto m = std::make_shared<SimChatMessage>();
    m->sender = message["sender"].optionalString();
    m->recipient = message["recipient"].optionalString();
    m->uuid = message["uuid"].optionalString();
    m->message = message["message"].optionalString();
    m->messageId = message["messageId"].optionalString();
    m->messageType = message["type"].intValue().value_or(0);
    m->date = now;
    size_t cost = historyCost(*m);
    if (cost - kMessageOverhead > kMaxMessageBytes) return false;
    historyBytes_ += cost;
    history_.push_back(std::move(m));
    while (history_.size() > kHistoryLimit || historyBytes_ > kMaxHistoryBytes) {
        historyBytes_ -= historyCost(*history_.front());
        history_.pop_front();
    }
    return true;
}

bool SimChat::removeMessage(const std::string& messageId) {
    if (messageId.empty()) return false;
    for (auto& m : history_) {
        if (m->messageId && TextSearch::containsIgnoringCaseAndAccents(*m->messageId, messageId)) {
            historyBytes_ -= historyCost(*m);
            m->message = "<message removed>";
            m->uuid = "message_removed";
            historyBytes_ += historyCost(*m);
            return true;
        }
    }
    return false;
}

Dictionary SimChat::clientsMessage() const {
    Array list;
    for (const Client& c : clients_) {
        Dictionary d;
        d.set("chatName", c.chatName);
        d.set("ip", c.ip);
        d.set("uuid", c.uuid);
        d.set("status", "Online");
        list.push_back(Value(std::move(d)));
    }
    return LinkMessageBuilder::message(LinkCommand::kChatClients, Value(std::move(list)));
}

Dictionary SimChat::colorsMessage() const {
    Dictionary byName;
    Dictionary byUUID;
    for (const Client& c : clients_) {
        byName.set(c.chatName, c.colorIndex);
        if (!c.uuid.empty()) byUUID.set(c.uuid, *ColorHelper::colorForChatGroup(c.colorIndex));
    }
    Dictionary m = LinkMessageBuilder::message(LinkCommand::kChatColors, Value(std::move(byName)));
    m.set(Value(std::string(LinkKey::kNValue)), Value(std::move(byUUID)));
    return m;
}

Dictionary SimChat::historyMessage() const {
    Array list;
    for (const auto& m : history_) list.push_back(Value(std::shared_ptr<const Object>(m)));
    return LinkMessageBuilder::message(LinkCommand::kChatMessageHistory, Value(std::move(list)));
}

}  // namespace quenbril
