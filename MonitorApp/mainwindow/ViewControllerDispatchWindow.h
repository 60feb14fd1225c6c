#pragma once

#include "MonitorApp/dispatch/DispatcherWindow.h"
#include "MonitorApp/mainwindow/ViewController.h"

namespace quenbril {

/// The main window as the dispatcher and the controller's parts see it: the status line, the
/// indicators, the connection dialog, the strip area, alerts, segues and the windows the
/// controller opened.
class ViewController::DispatchWindow final : public DispatcherWindow,
                                             public LinkLifeCycle::Window,
                                             public MainWindowActions::Window,
                                             public SegueRouter::Window {
  public:
    explicit DispatchWindow(ViewController& controller) : vc_(controller) {}

    void setStatusRight(const std::string& text, bool red) override;
    void updateStatusMessage() override;
    void setResetAlarm(bool on) override;
    void setChatAlarm(bool on) override;
    void flashHeader() override;
    void setDialogClientNames(const std::vector<std::string>& names) override;
    void alert(const std::string& text) override;
    void presentAlert(const std::string& text, const std::string& topic) override;
    void registerToChat() override;
    void updateChannelStrips() override;
    void scrollStripToVisible(const ChannelStripView& view) override;
    void performSegue(const std::string& identifier) override;
    void reloadChatTable() override;
    void updateChatClients() override;
    void setChatNotifierText(const std::string& message, const std::string& sender) override;
    std::optional<int32_t> performerChannelIndex() const override;
    void showPerformerBatteryText(const PerformerBatteryText& text) override;

    bool connectionDialogTookConnection() override;
    void connectionDialogDiscoveryUnavailable() override;
    void setStripsLive(bool live) override;
    void prepareConnectionDialog(const std::shared_ptr<SegueDestination>& dialog) override;
    bool linkConnected() const override;

  private:
    ViewController& vc_;
};

}  // namespace quenbril
