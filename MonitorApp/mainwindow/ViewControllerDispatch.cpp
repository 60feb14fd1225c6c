// Server messages go to the dispatcher; here is the window's side of it and of the controller's
// parts.

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/dispatch/PerformerBatteryText.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/mainwindow/ViewControllerDispatchWindow.h"

namespace quenbril {

void ViewController::messageReceivedFromServer(const Value& message) {
    dispatcher_->messageReceivedFromServer(message);
    const std::string* command = message[LinkKey::kCommand].stringValue();
    if (!command || *command != LinkCommand::kInitialDataReady) return;
    // The server has sent its whole state again after a drop: it is here, the strips are live.
    link_.serverStateReceived();
    if (link_.serverIsHere()) actions_.serverStateReceived();
    reopenPerformerWindow();
}

void ViewController::chatMessageFromServer(const Notification& notification) {
    dispatcher_->chatMessageFromServer(notification.userInfo);
}

void ViewController::DispatchWindow::setStatusRight(const std::string& text, bool red) {
    vc_.statusRightRed_ = red;
    vc_.setStatusRightText(text);
    vc_.refreshStatusLabels();
}

void ViewController::DispatchWindow::updateStatusMessage() { vc_.updateStatusMessage(); }

void ViewController::DispatchWindow::setResetAlarm(bool on) { vc_.setResetAlarm(on); }

void ViewController::DispatchWindow::setChatAlarm(bool on) { vc_.setChatAlarm(on); }

void ViewController::DispatchWindow::flashHeader() { vc_.flashHeader(); }

void ViewController::DispatchWindow::setDialogClientNames(const std::vector<std::string>& names) {
    QComboBox* clients = vc_.prefViewController_ ? vc_.prefViewController_->clientID() : nullptr;
    if (!clients) return;
    // Only the items the pop-up has: a longer list from the server adds none.
    const size_t n = std::min(names.size(), static_cast<size_t>(clients->count()));
    for (size_t i = 0; i < n; ++i) {
        clients->setItemText(static_cast<int>(i), QString::fromStdString(names[i]));
    }
}

void ViewController::DispatchWindow::alert(const std::string& text) { vc_.alert(text); }

void ViewController::DispatchWindow::presentAlert(const std::string& text,
                                                  const std::string& topic) {
    vc_.presentAlert(text, topic);
}

void ViewController::DispatchWindow::registerToChat() { vc_.registerToChat(); }

void ViewController::DispatchWindow::updateChannelStrips() { vc_.updateChannelStrips(); }

void ViewController::DispatchWindow::scrollStripToVisible(const ChannelStripView& view) {
    if (vc_.stripScroller_) vc_.stripScroller_->scrollStripToVisible(view);
}

void ViewController::DispatchWindow::performSegue(const std::string& identifier) {
    vc_.performSegue(identifier);
}

void ViewController::DispatchWindow::reloadChatTable() {
    const auto& table = vc_.segues_.chatTable();
    if (!table) return;
    table->reloadData();
    table->scrollToEnd();
}

void ViewController::DispatchWindow::updateChatClients() {
    if (const auto& table = vc_.segues_.chatTable()) table->updateClients();
}

void ViewController::DispatchWindow::setChatNotifierText(const std::string& message,
                                                         const std::string& sender) {
    const auto& notifier = vc_.segues_.chatNotifier();
    if (!notifier) return;
    notifier->setMessage(message);
    notifier->setTextLabel(message);
    notifier->setSender(sender);
    notifier->screenResize();
}

std::optional<int32_t> ViewController::DispatchWindow::performerChannelIndex() const {
    std::shared_ptr<PerformerWindow> window = vc_.segues_.performerWindow();
    if (!window) return std::nullopt;
    return window->channelIndex();
}

void ViewController::DispatchWindow::showPerformerBatteryText(const PerformerBatteryText& text) {
    std::shared_ptr<PerformerWindow> window = vc_.segues_.performerWindow();
    if (!window) return;
    if (text.quadversity) window->setRendererQuadversity(*text.quadversity);
    if (text.singleLine) window->setRendererSingleLine(*text.singleLine);
    if (text.text) window->setBatteryText(*text.text);
}

bool ViewController::DispatchWindow::connectionDialogTookConnection() {
    if (!vc_.prefViewController_) return false;
    // The dialog may confirm by itself, which ends it, so it is held here until it is done.
    std::shared_ptr<PreferencesViewController> dialog = vc_.prefViewController_;
    dialog->confirmButton()->setText("Confirm");
    dialog->statusText()->setText("Connected to server");
    dialog->connected();
    return true;
}

void ViewController::DispatchWindow::connectionDialogDiscoveryUnavailable() {
    if (vc_.prefViewController_) vc_.prefViewController_->discoveryUnavailable();
}

void ViewController::DispatchWindow::setStripsLive(bool live) {
    if (vc_.stripArea_) vc_.stripArea_->setLive(live);
}

void ViewController::DispatchWindow::prepareConnectionDialog(
    const std::shared_ptr<SegueDestination>& dialog) {
    vc_.prepareConnectionDialog(dialog);
}

bool ViewController::DispatchWindow::linkConnected() const { return vc_.linkConnected(); }

}  // namespace quenbril
