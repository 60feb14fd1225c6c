// Server messages go to the dispatcher; here is the window's side of it.

#include <QComboBox>
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
    // The server has sent its whole state again after a drop: the strips are live.
    if (stripArea_) stripArea_->setLive(true);
    if (reopenPerformer_) reopenPerformerWindow();
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

void ViewController::DispatchWindow::registerToChat() { vc_.registerToChat(); }

void ViewController::DispatchWindow::updateChannelStrips() { vc_.updateChannelStrips(); }

void ViewController::DispatchWindow::scrollStripToVisible(const ChannelStripView& view) {
    if (vc_.stripScroller_) vc_.stripScroller_->scrollStripToVisible(view);
}

void ViewController::DispatchWindow::performSegue(const std::string& identifier) {
    vc_.performSegue(identifier);
}

void ViewController::DispatchWindow::reloadChatTable() {
    if (!vc_.chatVC_) return;
    vc_.chatVC_->reloadData();
    vc_.chatVC_->scrollToEnd();
}

void ViewController::DispatchWindow::updateChatClients() {
    if (vc_.chatVC_) vc_.chatVC_->updateClients();
}

void ViewController::DispatchWindow::setChatNotifierText(const std::string& message,
                                                         const std::string& sender) {
    if (!vc_.cnVC_) return;
    vc_.cnVC_->setMessage(message);
    vc_.cnVC_->setTextLabel(message);
    vc_.cnVC_->setSender(sender);
    vc_.cnVC_->screenResize();
}

std::optional<int32_t> ViewController::DispatchWindow::performerChannelIndex() const {
    std::shared_ptr<PerformerWindow> window = vc_.playerViewController_.lock();
    if (!window) return std::nullopt;
    return window->channelIndex();
}

void ViewController::DispatchWindow::showPerformerBatteryText(const PerformerBatteryText& text) {
    std::shared_ptr<PerformerWindow> window = vc_.playerViewController_.lock();
    if (!window) return;
    if (text.quadversity) window->setRendererQuadversity(*text.quadversity);
    if (text.singleLine) window->setRendererSingleLine(*text.singleLine);
    if (text.text) window->setBatteryText(*text.text);
}

}  // namespace quenbril
