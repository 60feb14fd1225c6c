#include "MonitorApp/chat/ChatManager.h"

#include <algorithm>
#include <atomic>

#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/TextSearch.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/RunLoop.h"
#include "foundation/SharedInstance.h"
#include "foundation/SkippedElements.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

SharedInstance<ChatManager> shared;
std::atomic<LinkSender*> linkSender{nullptr};

}  // namespace

ChatManager& ChatManager::sharedInstance() { return shared.get(); }

void ChatManager::resetSharedInstance() { shared.reset(); }

ChatManager::ChatManager() {
    ChatMessage::registerArchiveDecoder();
    for (size_t i = 0; i < kPlaceholderCount; ++i) {
        auto m = std::make_shared<ChatMessage>();
        m->setSender("");
        m->setRecipient("");
        m->setMessage("");
        m->setUuid("");
        messages_.push_back(std::move(m));
    }
}

void ChatManager::setLinkSender(LinkSender* sender) { linkSender.store(sender); }

std::string ChatManager::uuid() {
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    if (auto stored = defaults.stringForKey(kUUIDKey)) return *stored;
    std::string made = UUIDString::make();
    // A failed write keeps the id for this run; the next run makes another.
    defaults.setObject(made, kUUIDKey);
    return made;
}

ChatManager::Messages& ChatManager::messages() { return sharedInstance().messages_; }

namespace {

/// The fields of a chat message, in the order they are checked, with their bounds.
struct BoundedField {
    const char* name;
    size_t bound;
    const std::optional<std::string>& (ChatMessage::*read)() const;
};
constexpr BoundedField kBoundedFields[] = {
    {"message", ChatManager::kMaxTextBytes, &ChatMessage::message},
    {"messageId", ChatManager::kMaxNameBytes, &ChatMessage::messageId},
    {"sender", ChatManager::kMaxNameBytes, &ChatMessage::sender},
    {"uuid", ChatManager::kMaxNameBytes, &ChatMessage::uuid},
    {"recipient", ChatManager::kMaxNameBytes, &ChatMessage::recipient}};

/// The fields of a chat user the server lists.
constexpr const char* kClientFields[] = {"chatName", "ip", "status", "uuid"};

}  // namespace

const char* ChatManager::overLongField(const ChatMessage& m) {
    for (const BoundedField& field : kBoundedFields) {
        const std::optional<std::string>& text = (m.*field.read)();
        if (text && text->size() > field.bound) return field.name;
    }
    return nullptr;
}

const char* ChatManager::overLongField(const Dictionary& message) {
    for (const BoundedField& field : kBoundedFields) {
        const std::string* text = message[field.name].stringValue();
        if (text && text->size() > field.bound) return field.name;
    }
    return nullptr;
}

bool ChatManager::addMessage(std::optional<std::string> message,
                             std::optional<std::string> messageId,
                             std::optional<std::string> sender, std::optional<std::string> uuid,
                             std::optional<std::string> recipient, uint64_t type) {
    auto m = std::make_shared<ChatMessage>();
    m->setMessage(std::move(message));
    m->setMessageId(std::move(messageId));
    m->setSender(std::move(sender));
    m->setUuid(std::move(uuid));
    m->setRecipient(std::move(recipient));
    m->setMessageType(type);
    m->setDate(RunLoop::main().now());
    if (const char* field = overLongField(*m)) {
        log(LogLevel::Warning, "Chat: a message whose \"%s\" is over its bound is refused", field);
        return false;
    }
    Messages& list = messages();
    list.push_back(std::move(m));
    if (list.size() > kMaxMessages) list.erase(list.begin());
    return true;
}

bool ChatManager::removeMessage(const std::optional<std::string>& messageId, bool shouldSend) {
    if (!messageId || messageId->empty()) {
        log(LogLevel::Warning, "Chat: a removal without a message id is ignored");
        return true;
    }
    if (messageId->size() > kMaxNameBytes) {
        log(LogLevel::Warning,
            "Chat: a removal of a message id of %zu bytes is refused (at most %zu)",
            messageId->size(), kMaxNameBytes);
        return true;
    }
    LinkSender* sender = shouldSend ? linkSender.load() : nullptr;
    // Marked here and not told to the server, the message would come back with the next
    // history: the user is told it was not sent instead.
    if (sender && !sender->maySend()) return false;
    Messages& list = messages();
    auto found = std::find_if(list.begin(), list.end(), [&](const auto& m) {
        return m->messageId() &&
               TextSearch::containsIgnoringCaseAndAccents(*m->messageId(), *messageId);
    });
    if (found != list.end()) {
        (*found)->setMessage(ChatMessage::kRemovedText);
        (*found)->setUuid(ChatMessage::kRemovedUUID);
    }
    if (sender) {
        sender->sendDictionary(Dictionary{{"Command", "ChatRemoveMessage"}, {"Value", *messageId}});
    }
    NotificationCenter::defaultCenter().post(ChatNotification::kRefreshChat);
    return true;
}

void ChatManager::updateFromProps(const Array& props) {
    std::vector<ChatClient>& clients = sharedInstance().chatClients_;
    clients.clear();
    SkippedElements skipped("Chat clients");
    size_t overLong = 0;
    for (size_t i = 0; i < props.size(); ++i) {
        const Dictionary* d = props[i].dictionaryValue();
        if (!d) {
            skipped.add(i, props[i]);
            continue;
        }
        // A user whose name could be in no message the chat takes.
        const bool fits =
            std::all_of(std::begin(kClientFields), std::end(kClientFields), [&](const char* field) {
                const std::string* text = (*d)[field].stringValue();
                return !text || text->size() <= kMaxNameBytes;
            });
        if (!fits) {
            ++overLong;
            continue;
        }
        clients.push_back(ChatClient{(*d)["chatName"].optionalString(), (*d)["ip"].optionalString(),
                                     (*d)["status"].optionalString(),
                                     (*d)["uuid"].optionalString()});
    }
    if (overLong > 0) {
        log(LogLevel::Warning, "Chat clients: %zu users with a field over %zu bytes skipped",
            overLong, kMaxNameBytes);
    }
    logClients();
}

void ChatManager::updateChatHistory(const std::vector<std::shared_ptr<const Object>>& history,
                                    const std::string& me) {
    Messages& list = messages();
    list.clear();
    size_t notMessages = 0;
    size_t overLong = 0;
    // The newest messages are kept: the history is read from its end.
    std::vector<const ChatMessage*> kept;
    for (size_t i = history.size(); i-- > 0;) {
        const auto* m = dynamic_cast<const ChatMessage*>(history[i].get());
        if (!m) {
            ++notMessages;
            continue;
        }
        const bool fromMe = m->sender() && *m->sender() == me;
        const bool toMe = m->recipient() && (*m->recipient() == me || *m->recipient() == "All");
        const bool hasSender = m->sender() && !m->sender()->empty();
        if (!(toMe || fromMe) || !hasSender) continue;
        if (overLongField(*m)) {
            ++overLong;
            continue;
        }
        if (kept.size() < kMaxMessages) kept.push_back(m);
    }
    list.reserve(kept.size());
    for (auto it = kept.rbegin(); it != kept.rend(); ++it) {
        list.push_back(std::make_shared<ChatMessage>(**it));
    }
    if (notMessages > 0) {
        log(LogLevel::Warning, "Chat history: %zu elements that are no chat message skipped",
            notMessages);
    }
    if (overLong > 0) {
        log(LogLevel::Warning, "Chat history: %zu messages over the bounds of a message skipped",
            overLong);
    }
}

void ChatManager::sendMacro(int32_t n, const std::string& sender) {
    auto text =
        UserDefaults::standardUserDefaults().stringForKey(UserSettingsManager::chatButtonKey(n));
    if (!text) return;
    log(LogLevel::Info, "Sending message %s", text->c_str());
    NotificationCenter::defaultCenter().post(
        ChatNotification::kChatMessage,
        Dictionary{{"message", *text}, {"sender", sender}, {"type", 0}, {"recipient", "All"}});
}

void ChatManager::registerToChat(const std::string& name, const std::string& ip) {
    std::vector<ChatClient>& clients = sharedInstance().chatClients_;
    for (ChatClient& c : clients) {
        if (c.ip == ip) {
            if (c.chatName == name) return;
            c.chatName = name;
            logClients();
            return;
        }
    }
    clients.push_back(ChatClient{name, ip, std::nullopt, std::nullopt});
    logClients();
}

void ChatManager::removeFromChat(const std::string& ip) {
    std::vector<ChatClient>& clients = sharedInstance().chatClients_;
    std::erase_if(clients, [&](const ChatClient& c) { return c.ip == ip; });
    logClients();
}

Array ChatManager::clientsProperty() {
    Array out;
    for (const ChatClient& c : sharedInstance().chatClients_) {
        Dictionary d;
        if (c.chatName) d.set("chatName", *c.chatName);
        if (c.ip) d.set("ip", *c.ip);
        if (c.uuid) d.set("uuid", *c.uuid);
        out.emplace_back(std::move(d));
    }
    return out;
}

void ChatManager::logClients() {
    std::string names;
    for (const ChatClient& c : sharedInstance().chatClients_) {
        if (!names.empty()) names += ", ";
        names += c.chatName.value_or("?") + " (" + c.ip.value_or("?") + ")";
    }
    log(LogLevel::Info, "Connected chat clients: %s", names.c_str());
}

}  // namespace quenbril
