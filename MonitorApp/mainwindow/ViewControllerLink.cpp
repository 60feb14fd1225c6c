// The main window as the server link's delegate: the connection dialog while it is open, the
// "ClientID" and "SoloOn" of a reconnection, and the strips going off when the link drops.

#include <QLabel>
#include <QPushButton>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/settings/UserSettingsManager.h"

namespace quenbril {

void ViewController::connectedToServer(const std::string& /*host*/) {
    updateStatusMessage();
    if (prefViewController_) {
        // While the dialog is open a connection only updates it; the dialog may confirm by
        // itself, which ends it, so it is held here until it is done.
        std::shared_ptr<PreferencesViewController> dialog = prefViewController_;
        dialog->confirmButton()->setText("Confirm");
        dialog->statusText()->setText("Connected to server");
        dialog->connected();
        return;
    }
    sendStoredClientID();
    send(LinkMessageBuilder::soloOn(UserSettingsManager::sharedInstance().soloOn()));
}

void ViewController::disconnectedFromServer(const std::optional<Error>& /*error*/) {
    updateStatusMessage();
    // The strips keep their records until the next "Channels" replaces them.
    ChannelStripManager::sharedInstance().allChannelsOff();
}

}  // namespace quenbril
