#include "MonitorApp/mainwindow/MainWindowActions.h"

#include <cmath>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/chat/UUIDString.h"
#include "MonitorApp/controls/TitledButton.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/mainwindow/SegueRouter.h"
#include "MonitorApp/panels/NotebookManager.h"
#include "MonitorApp/serverrole/ClientManager.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"
#include "foundation/RunLoop.h"
#include "foundation/UserDefaults.h"

namespace quenbril {

namespace {

using Builder = LinkMessageBuilder;

/// The strip id of a strip notification; none (with a log line) when it carries none.
std::optional<int64_t> stripID(const Notification& n) {
    auto id = n.userInfo["index"].longLongValue();
    if (!id) log(LogLevel::Warning, "%s without a strip id ignored", n.name.c_str());
    return id;
}

constexpr double kMacroLearnGuard = 0.1;

}  // namespace

MainWindowActions::MainWindowActions(Services services, SegueRouter& segues,
                                     const ServerMessageDispatcher& dispatcher, Window& window)
    : services_(std::move(services)), segues_(segues), dispatcher_(dispatcher), window_(window) {}

void MainWindowActions::addObservers() {
    NotificationCenter& center = services_.notifications;
    auto observe = [&](const char* name, void (MainWindowActions::*handler)(const Notification&)) {
        observers_.push_back(center.addObserver(
            name, [this, handler](const Notification& n) { (this->*handler)(n); }));
    };
    observe("CSClicked", &MainWindowActions::csClicked);
    observe("CSLongClicked", &MainWindowActions::csLongClicked);
    observe("ChannelCheckClicked", &MainWindowActions::csChecked);
    observe("HardMuteClicked", &MainWindowActions::hardMuteClicked);
    observe("MicCheckKey", &MainWindowActions::micCheckKeyClicked);
    observe(ChatNotification::kChatMessage, &MainWindowActions::chatMessage);
    observe("MIDIEventReceived", &MainWindowActions::MIDIEventReceived);
}

void MainWindowActions::send(const Dictionary& message) {
    services_.sender.sendDictionary(message);
}

// ---- Strip notifications ----

void MainWindowActions::csClicked(const Notification& notification) {
    auto csID = stripID(notification);
    if (!csID) return;
    UserSettingsManager& settings = services_.settings();
    const int tool = settings.selectedTool();
    // A click that would reach the server changes nothing here while it cannot: the solo
    // position and the quick message's channel stay as they were.
    if (tool != 1 && !services_.sender.maySend()) return;
    ChannelStripManager& manager = services_.strips;
    ChannelStripController* controller = manager.controllerWithCSID(*csID);
    const int32_t panelPosition =
        ChannelStripManager::indexInPanel(manager.controllers(), controller);
    const bool off = !controller || controller->state().channelState() == ChannelStripState::kOff;
    settings.setPrevSoloIndex(off ? panelPosition : -1);

    if (controller && controller->model().csID() == *csID) {
        const std::string label = DispatchRules::stripLabel(controller->model().name().value_or(""),
                                                            controller->model().audioInput());
        if (const auto& buttons = segues_.chatButtons()) buttons->updateButtonText(label);
        manager.setPreviouslyClickedChannel(label);
    }

    if (tool == 0) {
        send(Builder::channelClicked(*csID));
        return;
    }
    const int32_t position = manager.indexOfChannelStripID(*csID);
    if (position < 0) return;
    const int32_t player = PlayerStripLookup::indexOfPlayerInChannelStripID(manager, *csID);
    segues_.selectPerformer(player, position);
    if (std::shared_ptr<PerformerWindow> window = segues_.openPerformerWindow()) {
        if (window->channelIndex() != position || window->playerIndex() != player) {
            const auto& wirelessInfo = dispatcher_.wirelessInfo();
            auto info = wirelessInfo.find(position);
            if (info != wirelessInfo.end()) {
                window->setQuadversity(info->second.quadversity.value_or(false));
            }
            window->updatePlayer(player, position);
        }
    } else {
        segues_.perform("editPlayer");
    }
    if (tool == 2) send(Builder::channelClicked(*csID));
}

void MainWindowActions::csLongClicked(const Notification& notification) {
    auto csID = stripID(notification);
    if (!csID) return;
    if (services_.settings().notebookMode()) {
        QLOG("New note on %lld", static_cast<long long>(*csID));
        services_.notebook.setLatestCsID(*csID);
        segues_.perform("showAddNote");
        return;
    }
    send(Builder::channelLongClicked(*csID));
}

void MainWindowActions::csChecked(const Notification& notification) {
    if (auto csID = stripID(notification)) send(Builder::channelCheckClicked(*csID));
}

void MainWindowActions::hardMuteClicked(const Notification& notification) {
    if (auto csID = stripID(notification)) send(Builder::hardMuteClicked(*csID));
}

void MainWindowActions::micCheckKeyClicked(const Notification& notification) {
    const std::string* key = notification.userInfo["Key"].stringValue();
    if (!key || (*key != "Y" && *key != "N")) return;
    const bool wantChecked = *key == "N";
    for (const auto& c : services_.strips.controllers()) {
        if (c->state().channelState() == ChannelStripState::kActive &&
            c->state().micCheckState().checked() == wantChecked) {
            send(Builder::channelCheckClicked(c->model().csID()));
        }
    }
}

void MainWindowActions::chatMessage(const Notification& notification) {
    if (notification.userInfo.empty()) return;
    ClientManager* host = services_.host ? services_.host() : nullptr;
    if (host) {
        host->sendDictionaryToEveryone(
            Builder::message(LinkCommand::kChatMessageFromServer, Value(notification.userInfo)));
    } else if (!services_.sender.maySend()) {
        // The chat window keeps the text and says so.
        services_.notifications.post(ChatNotification::kChatMessageNotSent, notification.userInfo);
        return;
    }
    QLOG("Sent message");
    send(Builder::chatMessageFromClient(notification.userInfo));
}

void MainWindowActions::MIDIEventReceived(const Notification& notification) {
    const double now = RunLoop::main().now();
    if (std::fabs(now - services_.settings().macroLastUpdated()) < kMacroLearnGuard) return;
    const Dictionary& e = notification.userInfo;
    const Value key(DispatchRules::midiKey(
        e["channel"].intValue().value_or(0), e["command"].intValue().value_or(0),
        e["byte1"].intValue().value_or(0), e["byte2"].intValue().value_or(0)));
    UserDefaults& defaults = services_.defaults;
    for (int n = 1; n <= 8; ++n) {
        if (defaults.objectForKey(UserSettingsManager::chatButtonMidiKey(n)) == key) {
            ChatManager::sendMacro(n, services_.settings().chatUsername());
        }
    }
    if (defaults.objectForKey(UserSettingsManager::chatButtonMidiKey(20)) == key) {
        segues_.dismissChatNotifier();
    }
}

void MainWindowActions::serverStateReceived() {
    ChannelStripManager& manager = services_.strips;
    const std::string& clicked = manager.previouslyClickedChannel();
    for (const auto& c : manager.controllers()) {
        if (c->state().channelState() != ChannelStripState::kOff &&
            DispatchRules::stripLabel(c->model().name().value_or(""), c->model().audioInput()) ==
                clicked) {
            return;
        }
    }
    manager.setPreviouslyClickedChannel(ChannelStripManager::kNoChannelClicked);
    if (const auto& buttons = segues_.chatButtons())
        buttons->updateButtonText(manager.activeChannelNamesForChat());
}

// ---- Actions ----

void MainWindowActions::addMarker() {
    send(Builder::markerAdded(services_.settings().chatUsername()));
}

void MainWindowActions::resetClicked() {
    // The alarm stays lit until the server can hear the reset.
    if (!services_.sender.maySend()) return;
    window_.setResetAlarm(false);
    send(Builder::resetWarnings());
}

void MainWindowActions::soloClearClicked() { send(Builder::clear()); }

void MainWindowActions::soloHardClearClicked() { send(Builder::hardClear()); }

void MainWindowActions::startStream() { send(Builder::startStream()); }

void MainWindowActions::stopStream() { send(Builder::stopStream()); }

void MainWindowActions::startEngine() { services_.engine.startListening(); }

void MainWindowActions::stopEngine() { services_.engine.stopListening(); }

bool MainWindowActions::toggleMute() {
    PELAudioEngine& engine = services_.engine;
    engine.setMute(!engine.mute());
    return engine.mute();
}

bool MainWindowActions::isMuted() const { return services_.engine.mute(); }

void MainWindowActions::selectedTool(int segment) { services_.settings().setSelectedTool(segment); }

void MainWindowActions::panelButtonClicked() {
    currentPanel_ = 1 - currentPanel_;
    services_.strips.setPanelIndex(currentPanel_);
}

void MainWindowActions::clearChat() {
    ChatManager::messages().clear();
    if (const auto& table = segues_.chatTable()) table->reloadData();
}

void MainWindowActions::titledButtonClicked(TitledButton& button) {
    const std::string title = button.title();
    if (title == "Reset") {
        resetClicked();
    } else if (title == "Solo clear") {
        soloClearClicked();
    } else if (title == "Snaps") {
        segues_.perform("snapshotSeque");
    } else if (title == "Chat") {
        segues_.perform("showSplit");
        window_.setChatAlarm(false);
    } else if (title == "A") {
        services_.strips.setPanelIndex(1);
        button.setTitle("B");
    } else if (title == "B") {
        services_.strips.setPanelIndex(0);
        button.setTitle("A");
    }
}

void MainWindowActions::titledButtonLongClicked(TitledButton& button) {
    QLOG("QBButton long clicked vc");
    if (button.title() == "Solo clear") {
        soloHardClearClicked();
    } else {
        titledButtonClicked(button);
    }
}

void MainWindowActions::registerToChat() {
    send(Builder::registerToChat(services_.settings().chatUsername(), ChatManager::uuid()));
}

void MainWindowActions::registerNewChatName() {
    send(Builder::registerToChat(services_.settings().chatUsername(), ChatManager::uuid(),
                                 UUIDString::make()));
}

}  // namespace quenbril
