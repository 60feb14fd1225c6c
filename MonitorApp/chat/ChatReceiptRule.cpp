#include "MonitorApp/chat/ChatReceiptRule.h"

#include "MonitorApp/chat/ChatMessage.h"

namespace quenbril {

ChatReceipt ChatReceipt::evaluate(const std::optional<std::string>& sender,
                                  const std::optional<std::string>& recipient, int64_t type,
                                  const std::string& me, bool chatFlash) {
    const bool textOrPage = type == ChatMessage::kText || type == ChatMessage::kPage;
    ChatReceipt r;
    r.fromMe = sender && *sender == me;
    r.forUser = recipient && (*recipient == me || *recipient == "All");
    r.flash = r.forUser && (type == ChatMessage::kText || type == ChatMessage::kAlert) &&
              !r.fromMe && chatFlash;
    // Text and pages between two other users stay private to them; alerts and snapshot
    // messages are kept whoever they are addressed to.
    r.store = !(!r.forUser && !r.fromMe && textOrPage);
    r.alarmOn = r.store && r.forUser && textOrPage;
    r.alarmOff = r.fromMe;
    r.page = r.forUser && type == ChatMessage::kPage && !r.fromMe;
    return r;
}

}  // namespace quenbril
