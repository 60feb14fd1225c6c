#include "MonitorApp/mainwindow/LinkLifeCycle.h"

#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/link/ClientDefaultsKeys.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/serverlink/ServerManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

LinkLifeCycle::LinkLifeCycle(Services services, Window& window)
    : services_(std::move(services)), window_(window) {}

LinkLifeCycle::~LinkLifeCycle() {
    if (attached_ && services_.link().delegate() == attached_) {
        services_.link().setDelegate(nullptr);
    }
}

void LinkLifeCycle::startTimer() {
    timer_ = RunLoop::main().scheduleTimer(kConnectionInterval, true, [this] { tryConnection(); });
}

void LinkLifeCycle::tryConnection() {
    const UserSettingsManager& settings = services_.settings();
    ServerManager& link = services_.link();
    if ((settings.actAsClient() || settings.chatMode() == 1) && !link.isConnected()) {
        link.tryToConnect();
    }
}

void LinkLifeCycle::attach(ServerManagerDelegate& delegate) {
    ServerManager& link = services_.link();
    link.setDelegate(&delegate);
    attached_ = &delegate;
    link.tryToConnect();
}

bool LinkLifeCycle::isConnected() const { return services_.link().isConnected(); }

bool LinkLifeCycle::serverIsHere() const { return services_.link().serverIsHere(); }

void LinkLifeCycle::connectedToServer() {
    window_.updateStatusMessage();
    if (window_.connectionDialogTookConnection()) {
        linkUpWithoutRemoteRole_ = !services_.settings().actAsClient();
        return;
    }
    sendStoredClientID();
    services_.sender.sendOnConnection(LinkMessageBuilder::soloOn(services_.settings().soloOn()));
}

void LinkLifeCycle::disconnectedFromServer() {
    window_.updateStatusMessage();
    // The strips keep their records until the next "Channels" replaces them.
    services_.strips.allChannelsOff();
    // Until the server's state is back ("InitialDataReady") the strip area shows it is not live.
    window_.setStripsLive(false);
    linkUpWithoutRemoteRole_ = false;
    if (relinking_) {
        relinking_ = false;
        // In discovery mode the link has moved on to the next address by itself already.
        ServerManager& link = services_.link();
        if (!link.isConnected() && !link.isConnecting()) link.tryToConnect();
    }
}

void LinkLifeCycle::serverStateReceived() {
    if (!serverIsHere()) return;
    window_.updateStatusMessage();
    window_.setStripsLive(true);
}

void LinkLifeCycle::discoveryUnavailable() { window_.connectionDialogDiscoveryUnavailable(); }

void LinkLifeCycle::clientStarted() {
    if (linkUpWithoutRemoteRole_ && isConnected()) {
        // The server sends its state only as a remote connects.
        relink();
    } else {
        sendStoredClientID();
    }
}

void LinkLifeCycle::sendStoredClientID() {
    if (services_.defaults.objectForKey(ClientDefaultsKeys::kClientID).isNull()) return;
    services_.sender.sendOnConnection(LinkMessageBuilder::clientID(
        static_cast<int32_t>(services_.defaults.integerForKey(ClientDefaultsKeys::kClientID))));
}

void LinkLifeCycle::relink() {
    relinking_ = true;
    services_.link().disconnect();
}

}  // namespace quenbril
