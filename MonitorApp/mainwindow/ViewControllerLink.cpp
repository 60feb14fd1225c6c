// The main window as the server link's delegate: the connection dialog while it is open, the
// "ClientID" and "SoloOn" of a reconnection, the strips going off when the link drops, and the
// new connection that follows a drop this window asked for.

#include <QLabel>
#include <QPushButton>

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/StripArea.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/mainwindow/ViewController.h"
#include "MonitorApp/serverlink/ServerManager.h"
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
        linkUpWithoutRemoteRole_ = !UserSettingsManager::sharedInstance().actAsClient();
        return;
    }
    sendStoredClientID();
    send(LinkMessageBuilder::soloOn(UserSettingsManager::sharedInstance().soloOn()));
}

void ViewController::disconnectedFromServer(const std::optional<Error>& /*error*/) {
    updateStatusMessage();
    // The strips keep their records until the next "Channels" replaces them.
    ChannelStripManager::sharedInstance().allChannelsOff();
    // Until the server's state is back ("InitialDataReady") the strip area shows it is not live.
    if (stripArea_) stripArea_->setLive(false);
    linkUpWithoutRemoteRole_ = false;
    if (relinking_) {
        relinking_ = false;
        // In discovery mode the link has moved on to the next address by itself already.
        ServerManager& link = ServerManager::sharedInstance();
        if (!link.isConnected() && !link.isConnecting()) link.tryToConnect();
    }
}

void ViewController::discoveryUnavailable(const Error& /*error*/) {
    if (prefViewController_) prefViewController_->discoveryUnavailable();
}

void ViewController::relink() {
    relinking_ = true;
    ServerManager::sharedInstance().disconnect();
}

}  // namespace quenbril
