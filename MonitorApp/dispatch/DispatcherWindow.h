#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quenbril {

class ChannelStripView;
struct PerformerBatteryText;

/// What the server-message dispatcher asks of the main window, which alone holds the status
/// line, the indicators, the connection dialog, alerts, segues and the windows it opened. Calls
/// that concern a window that is not open do nothing.
class DispatcherWindow {
  public:
    virtual ~DispatcherWindow() = default;

    // ---- Status line and indicators ----
    /// The status line's right label: its text, red or white.
    virtual void setStatusRight(const std::string& text, bool red) = 0;
    /// Redraws the status line from the link and the user settings.
    virtual void updateStatusMessage() = 0;
    virtual void setResetAlarm(bool on) = 0;
    virtual void setChatAlarm(bool on) = 0;
    virtual void flashHeader() = 0;

    // ---- Connection, strips, alerts and segues ----
    /// Titles the open connection dialog's client items after `names`, item i after name i
    /// (a longer list adds no items).
    virtual void setDialogClientNames(const std::vector<std::string>& names) = 0;
    /// Shows `text` in an alert and returns at once: a message handler never waits for the user
    /// (the link would read nothing more meanwhile). An alert of the same `topic` still open
    /// takes the new text instead of a second one opening.
    virtual void presentAlert(const std::string& text, const std::string& topic) = 0;
    /// Sends "RegisterToChat" for this user.
    virtual void registerToChat() = 0;
    /// After a "Channels": the strips into the strip area, then the layout.
    virtual void updateChannelStrips() = 0;
    /// Scrolls the strip area so that the strip view is visible.
    virtual void scrollStripToVisible(const ChannelStripView& view) = 0;
    virtual void performSegue(const std::string& identifier) = 0;

    // ---- The chat panel and the page notifier ----
    /// Reloads the chat panel's table and scrolls it to the end.
    virtual void reloadChatTable() = 0;
    /// Refills the chat panel's recipient menu from the chat users.
    virtual void updateChatClients() = 0;
    /// Gives the page notifier the page's text (as message and label) and sender, and sizes it.
    virtual void setChatNotifierText(const std::string& message, const std::string& sender) = 0;

    // ---- The performer window ----
    /// The strip position the open performer window shows; none while none is open.
    virtual std::optional<int32_t> performerChannelIndex() const = 0;
    virtual void showPerformerBatteryText(const PerformerBatteryText& text) = 0;
};

}  // namespace quenbril
