#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quenbril {

/// What the main window does with a chat message the server relays: whether it flashes its
/// header, stores the message, switches the chat alarm and opens the page notifier. The rule
/// compares the message's sender with this user's chat name; the chat id plays no part.
struct ChatReceipt {
    /// Addressed to this user or to "All".
    bool forUser = false;
    bool flash = false;
    bool store = false;
    /// Applied in this order: on first, then off (an own message ends with the alarm off).
    bool alarmOn = false;
    bool alarmOff = false;
    bool page = false;
    /// Sent by this user: stored with this station's own chat id.
    bool fromMe = false;

    static ChatReceipt evaluate(const std::optional<std::string>& sender,
                                const std::optional<std::string>& recipient, int64_t type,
                                const std::string& me, bool chatFlash);
};

}  // namespace quenbril
