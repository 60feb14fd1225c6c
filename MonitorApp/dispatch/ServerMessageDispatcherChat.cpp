// The dispatcher's chat: the chat commands of both roles and the filing of arriving messages.

#include "MonitorApp/chat/ChatColorManager.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/ChatReceiptRule.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/dispatch/ShortTimeClock.h"
#include "MonitorApp/link/LinkMessageReader.h"
#include "MonitorApp/settings/ColorHelper.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/NotificationCenter.h"
#include "foundation/SkippedElements.h"

namespace quenbril {

namespace {

using Reader = LinkMessageReader;

/// Whether a message of the history would have lit the chat alarm and left it lit: one from
/// another user to this one, or to all.
bool holdsMessageForAlarm(const ChatManager::Messages& history, const std::string& me) {
    for (const auto& m : history) {
        const ChatReceipt receipt = ChatReceipt::evaluate(
            m->sender(), m->recipient(), static_cast<int64_t>(m->messageType()), me, false);
        if (receipt.alarmOn && !receipt.alarmOff) return true;
    }
    return false;
}

}  // namespace

void ServerMessageDispatcher::handleChatRemoveMessage(const Dictionary& message) {
    if (auto id = Reader::string(message).get()) ChatManager::removeMessage(id, false);
}

void ServerMessageDispatcher::handleChatClients(const Dictionary& message) {
    // An absent list empties the users.
    static const Array kNone;
    const auto clients = Reader::array(message).get();
    ChatManager::updateFromProps(clients ? **clients : kNone);
    window_.updateChatClients();
}

void ServerMessageDispatcher::handleChatMessageHistory(const Dictionary& message) {
    if (auto history = Reader::chatMessageHistory(message).get()) {
        const std::string me = context_.settings.chatUsername();
        ChatManager::updateChatHistory(*history, me);
        window_.reloadChatTable();
        // The alarm is for messages the history holds: a server that starts afresh (its
        // history empty) leaves none to read.
        if (!holdsMessageForAlarm(ChatManager::messages(), me)) window_.setChatAlarm(false);
    }
}

void ServerMessageDispatcher::handleChatColors(const Dictionary& message) {
    if (auto table = Reader::dictionary(message).get()) {
        Dictionary& chatColors = context_.colors.chatColors();
        chatColors = Dictionary{};
        SkippedElements skipped("\"ChatColors\"");
        size_t i = 0;
        for (const auto& [key, index] : **table) {
            if (!key.isString() || !index.isNumber()) {
                skipped.add(i, key.isString() ? index : key);
            } else {
                chatColors.set(key, index);
            }
            ++i;
        }
    }
    if (auto colors = Reader::dictionary(message, LinkKey::kNValue).get()) {
        context_.chatColors.setChatColors(**colors);
    }
}

void ServerMessageDispatcher::handleChatMessageFromServer(const Dictionary& message) {
    auto chat = Reader::dictionary(message).get();
    if (!chat) return;
    // Refused before anything holds, copies or shows it: the notifier and the store would
    // keep whatever size a server sends.
    if (const char* field = ChatManager::overLongField(**chat)) {
        log(LogLevel::Warning,
            "Chat: a message from the server whose \"%s\" is over its bound is "
            "refused",
            field);
        return;
    }
    context_.notifications.post(ChatNotification::kChatMessageFromServer, **chat);
}

void ServerMessageDispatcher::chatMessageFromServer(const Dictionary& chatMessage) {
    const ChatMessageFields f = Reader::chatMessage(chatMessage);
    const UserSettingsManager& settings = context_.settings;
    const ChatReceipt receipt = ChatReceipt::evaluate(
        f.sender, f.recipient, f.type.value_or(0), settings.chatUsername(), settings.chatFlash());

    latestChatMessage_ = context_.clock.shortTimeNow() + ": " + f.message.value_or("");
    latestSender_ = f.sender.value_or("");

    if (receipt.flash) window_.flashHeader();
    if (receipt.store) {
        ChatManager::addMessage(
            f.message, f.messageId, f.sender,
            receipt.fromMe ? std::optional<std::string>(ChatManager::uuid()) : f.uuid, f.recipient,
            static_cast<uint64_t>(int64_t{f.type.value_or(0)}));
        window_.reloadChatTable();
    }
    if (receipt.alarmOn) window_.setChatAlarm(true);
    if (receipt.alarmOff) window_.setChatAlarm(false);
    if (receipt.page) {
        window_.setChatNotifierText(latestChatMessage_, latestSender_);
        window_.performSegue("showChatNotifier");
    }
}

}  // namespace quenbril
