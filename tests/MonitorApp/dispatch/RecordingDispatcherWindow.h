#pragma once

// The main window as the dispatcher's tests and fuzz target see it: every call is recorded, and
// a performer window can be "open" on a strip position.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "MonitorApp/dispatch/DispatcherWindow.h"
#include "MonitorApp/dispatch/PerformerBatteryText.h"
#include "MonitorApp/dispatch/ShortTimeClock.h"

namespace quenbril {

class RecordingDispatcherWindow : public DispatcherWindow {
  public:
    void setStatusRight(const std::string& text, bool red) override {
        statusRight = text;
        statusRightRed = red;
    }
    void updateStatusMessage() override { ++statusUpdates; }
    void setResetAlarm(bool on) override { resetAlarm = on; }
    void setChatAlarm(bool on) override { chatAlarm = on; }
    void flashHeader() override { ++headerFlashes; }
    void setDialogClientNames(const std::vector<std::string>& names) override {
        dialogClientNames.push_back(names);
    }
    void presentAlert(const std::string& text, const std::string& topic) override {
        alerts.push_back(text);
        alertTopics.push_back(topic);
    }
    void registerToChat() override { ++chatRegistrations; }
    void updateChannelStrips() override { ++stripUpdates; }
    void scrollStripToVisible(const ChannelStripView& view) override {
        scrolledTo.push_back(&view);
    }
    void performSegue(const std::string& identifier) override { segues.push_back(identifier); }
    void reloadChatTable() override { ++chatReloads; }
    void updateChatClients() override { ++chatClientUpdates; }
    void setChatNotifierText(const std::string& message, const std::string& sender) override {
        notifierText = {message, sender};
    }
    std::optional<int32_t> performerChannelIndex() const override { return performerChannel; }
    void showPerformerBatteryText(const PerformerBatteryText& text) override {
        batteryTexts.push_back(text);
    }

    std::string statusRight = "unset";
    bool statusRightRed = false;
    std::optional<bool> resetAlarm, chatAlarm;
    int statusUpdates = 0, headerFlashes = 0, chatRegistrations = 0, stripUpdates = 0;
    int chatReloads = 0, chatClientUpdates = 0;
    std::vector<std::vector<std::string>> dialogClientNames;
    std::vector<std::string> alerts, alertTopics, segues;
    std::vector<const ChannelStripView*> scrolledTo;
    std::optional<std::pair<std::string, std::string>> notifierText;
    /// The strip position of the open performer window; none: no performer window.
    std::optional<int32_t> performerChannel;
    std::vector<PerformerBatteryText> batteryTexts;
};

/// A clock stopped at one time of day.
class FixedShortTimeClock : public ShortTimeClock {
  public:
    explicit FixedShortTimeClock(std::string time = "09:41") : time_(std::move(time)) {}
    std::string shortTimeNow() const override { return time_; }

  private:
    std::string time_;
};

}  // namespace quenbril
