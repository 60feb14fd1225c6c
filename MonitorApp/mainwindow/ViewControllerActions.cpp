// User actions: the observers of the strip, mic-check, chat and MIDI notifications, the
// controller's actions and the preparation of the segues it performs.

#include <QAbstractButton>
#include <cmath>

#include "MonitorApp/audio/PELAudioEngine.h"
#include "MonitorApp/channelstrips/ChannelStripManager.h"
#include "MonitorApp/channelstrips/PlayerStripLookup.h"
#include "MonitorApp/chat/ChatManager.h"
#include "MonitorApp/chat/ChatNotifications.h"
#include "MonitorApp/dispatch/DispatchRules.h"
#include "MonitorApp/link/LinkCommands.h"
#include "MonitorApp/link/LinkMessageBuilder.h"
#include "MonitorApp/link/LinkSender.h"
#include "MonitorApp/mainwindow/ViewController.h"
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

void ViewController::addActionObservers() {
    NotificationCenter& center = NotificationCenter::defaultCenter();
    auto observe = [&](const char* name, void (ViewController::*handler)(const Notification&)) {
        actionObservers_.push_back(center.addObserver(
            name, [this, handler](const Notification& n) { (this->*handler)(n); }));
    };
    observe("CSClicked", &ViewController::csClicked);
    observe("CSLongClicked", &ViewController::csLongClicked);
    observe("ChannelCheckClicked", &ViewController::csChecked);
    observe("HardMuteClicked", &ViewController::hardMuteClicked);
    observe("CSDoubleClicked", &ViewController::csDoubleClicked);
    observe("MicCheckKey", &ViewController::micCheckKeyClicked);
    observe(ChatNotification::kChatMessage, &ViewController::chatMessage);
    observe(ChatNotification::kChatMessageFromServer, &ViewController::chatMessageFromServer);
    actionObservers_.push_back(center.addObserver(
        ChatNotification::kChatWindowClosed, [this](const Notification&) { chatWindowClosed(); }));
    observe("MIDIEventReceived", &ViewController::MIDIEventReceived);
    actionObservers_.push_back(
        center.addObserver("ChannelClickStarted", [this](const Notification&) { clickStarted(); }));
    actionObservers_.push_back(
        center.addObserver("ChannelClickEnded", [this](const Notification&) { clickEnded(); }));
    dispatcher_->levelFrames().clearSCP();
}

void ViewController::send(const Dictionary& message) {
    if (linkSender_) linkSender_->sendDictionary(message);
}

// ---- Strip notifications ----

void ViewController::csClicked(const Notification& notification) {
    auto csID = stripID(notification);
    if (!csID) return;
    ChannelStripManager& manager = ChannelStripManager::sharedInstance();
    UserSettingsManager& settings = UserSettingsManager::sharedInstance();
    ChannelStripController* controller = ChannelStripManager::controllerByID(*csID);
    const int32_t panelPosition = ChannelStripManager::indexInPanel(
        ChannelStripManager::channelStripControllers(), controller);
    const bool off = !controller || controller->state().channelState() == ChannelStripState::kOff;
    settings.setPrevSoloIndex(off ? panelPosition : -1);

    if (controller && controller->model().csID() == *csID) {
        const std::string label = DispatchRules::stripLabel(controller->model().name().value_or(""),
                                                            controller->model().audioInput());
        if (chatButtonVC_) chatButtonVC_->updateButtonText(label);
        manager.setPreviouslyClickedChannel(label);
    }

    const int tool = settings.selectedTool();
    if (tool == 0) {
        send(Builder::channelClicked(*csID));
        return;
    }
    const int32_t position = manager.indexOfChannelStripID(*csID);
    if (position < 0) return;
    playerIndex_ = PlayerStripLookup::indexOfPlayerInChannelStripID(*csID);
    channelIndex_ = position;
    std::shared_ptr<PerformerWindow> window = playerViewController_.lock();
    if (window && !window->isClosed()) {
        if (window->channelIndex() != position || window->playerIndex() != playerIndex_) {
            const auto& wirelessInfo = dispatcher_->wirelessInfo();
            auto info = wirelessInfo.find(position);
            if (info != wirelessInfo.end()) {
                window->setQuadversity(info->second.quadversity.value_or(false));
            }
            window->updatePlayer(playerIndex_, position);
        }
    } else {
        performSegue("editPlayer");
    }
    if (tool == 2) send(Builder::channelClicked(*csID));
}

void ViewController::csLongClicked(const Notification& notification) {
    auto csID = stripID(notification);
    if (!csID) return;
    if (UserSettingsManager::sharedInstance().notebookMode()) {
        QLOG("New note on %lld", static_cast<long long>(*csID));
        NotebookManager::sharedInstance().setLatestCsID(*csID);
        performSegue("showAddNote");
        return;
    }
    send(Builder::channelLongClicked(*csID));
}

void ViewController::csChecked(const Notification& notification) {
    if (auto csID = stripID(notification)) send(Builder::channelCheckClicked(*csID));
}

void ViewController::hardMuteClicked(const Notification& notification) {
    if (auto csID = stripID(notification)) send(Builder::hardMuteClicked(*csID));
}

void ViewController::csDoubleClicked(const Notification&) {}

void ViewController::micCheckKeyClicked(const Notification& notification) {
    const std::string* key = notification.userInfo["Key"].stringValue();
    if (!key || (*key != "Y" && *key != "N")) return;
    const bool wantChecked = *key == "N";
    for (const auto& c : ChannelStripManager::channelStripControllers()) {
        if (c->state().channelState() == ChannelStripState::kActive &&
            c->state().micCheckState().checked() == wantChecked) {
            send(Builder::channelCheckClicked(c->model().csID()));
        }
    }
}

void ViewController::chatMessage(const Notification& notification) {
    if (notification.userInfo.empty()) return;
    if (ClientManager* host = ClientManager::sharedInstance()) {
        host->sendDictionaryToEveryone(
            Builder::message(LinkCommand::kChatMessageFromServer, Value(notification.userInfo)));
    }
    QLOG("Sent message");
    send(Builder::chatMessageFromClient(notification.userInfo));
}

void ViewController::chatWindowClosed() {
    chatVC_.reset();
    chatButtonVC_.reset();
}

void ViewController::MIDIEventReceived(const Notification& notification) {
    const double now = RunLoop::main().now();
    if (std::fabs(now - UserSettingsManager::sharedInstance().macroLastUpdated()) <
        kMacroLearnGuard) {
        return;
    }
    const Dictionary& e = notification.userInfo;
    const Value key(DispatchRules::midiKey(
        e["channel"].intValue().value_or(0), e["command"].intValue().value_or(0),
        e["byte1"].intValue().value_or(0), e["byte2"].intValue().value_or(0)));
    UserDefaults& defaults = UserDefaults::standardUserDefaults();
    for (int n = 1; n <= 8; ++n) {
        if (defaults.objectForKey(UserSettingsManager::chatButtonMidiKey(n)) == key) {
            ChatManager::sendMacro(n);
        }
    }
    if (defaults.objectForKey(UserSettingsManager::chatButtonMidiKey(20)) == key)
        dismissChatNotifier();
}

// ---- Actions ----

void ViewController::addMarker() {
    send(Builder::markerAdded(UserSettingsManager::sharedInstance().chatUsername()));
}

void ViewController::resetClicked() {
    setResetAlarm(false);
    send(Builder::resetWarnings());
}

void ViewController::soloClearClicked() { send(Builder::clear()); }

void ViewController::soloHardClearClicked() { send(Builder::hardClear()); }

void ViewController::startStream() { send(Builder::startStream()); }

void ViewController::stopStream() { send(Builder::stopStream()); }

void ViewController::startEngine() { PELAudioEngine::sharedInstance().startListening(); }

void ViewController::stopEngine() { PELAudioEngine::sharedInstance().stopListening(); }

bool ViewController::toggleMute() {
    PELAudioEngine& engine = PELAudioEngine::sharedInstance();
    engine.setMute(!engine.mute());
    return engine.mute();
}

void ViewController::mute(QAbstractButton* sender) {
    if (sender) {
        sender->setText(PELAudioEngine::sharedInstance().mute() ? "Mute" : "Unmute");
    }
    toggleMute();
}

void ViewController::selectedTool(int segment) {
    UserSettingsManager::sharedInstance().setSelectedTool(segment);
}

void ViewController::showHideSnapshots() { performSegue("snapshotSeque"); }

void ViewController::showHideChat() { performSegue("showSplit"); }

void ViewController::channelIOClicked() { performSegue("showSettings"); }

void ViewController::chatButtonClicked() {
    setChatAlarm(false);
    showHideChat();
}

void ViewController::panelButtonClicked() {
    currentPanel_ = 1 - currentPanel_;
    ChannelStripManager::sharedInstance().setPanelIndex(currentPanel_);
}

void ViewController::resetButtonClicked() { resetClicked(); }

void ViewController::dismissChatNotifier() {
    if (cnVC_ && cnVC_->isViewLoaded()) cnVC_->closeMe();
}

void ViewController::clearChat() {
    ChatManager::messages().clear();
    if (chatVC_) chatVC_->reloadData();
}

void ViewController::LongClickButtonClicked(const void* sender) {
    if (sender && sender == soloClearButton_) soloClearClicked();
}

void ViewController::LongClickButtonLongClicked(const void* sender) {
    if (sender && sender == soloClearButton_) soloHardClearClicked();
}

void ViewController::QBButtonClicked(TitledButton& button) {
    const std::string title = button.title();
    if (title == "Reset") {
        resetClicked();
    } else if (title == "Solo clear") {
        soloClearClicked();
    } else if (title == "Snaps") {
        showHideSnapshots();
    } else if (title == "Chat") {
        showHideChat();
        setChatAlarm(false);
    } else if (title == "A") {
        ChannelStripManager::sharedInstance().setPanelIndex(1);
        button.setTitle("B");
    } else if (title == "B") {
        ChannelStripManager::sharedInstance().setPanelIndex(0);
        button.setTitle("A");
    }
}

void ViewController::QBButtonLongClicked(TitledButton& button) {
    QLOG("QBButton long clicked vc");
    if (button.title() == "Solo clear") {
        soloHardClearClicked();
    } else {
        QBButtonClicked(button);
    }
}

void ViewController::registerToChat() {
    send(Builder::registerToChat(UserSettingsManager::sharedInstance().chatUsername(),
                                 ChatManager::uuid()));
}

// ---- Segues ----

void ViewController::performSegue(const std::string& identifier) {
    std::shared_ptr<SegueDestination> destination =
        segueFactory_ ? segueFactory_(identifier) : nullptr;
    if (!destination) {
        QLOG("Segue %s skipped: its window is not available", identifier.c_str());
        return;
    }
    prepareForSegue(identifier, destination);
    destination->show();
}

void ViewController::prepareForSegue(const std::string& identifier,
                                     const std::shared_ptr<SegueDestination>& destination) {
    if (identifier == "snapshotSeque") {
        snapselector_ = destination;
    } else if (identifier == "showChatNotifier") {
        cnVC_ = std::dynamic_pointer_cast<ChatNotifier>(destination);
        if (cnVC_) {
            cnVC_->setMessage(dispatcher_->latestChatMessage());
            cnVC_->setSender(dispatcher_->latestSender());
        }
    } else if (identifier == "showSplit") {
        if (auto split = std::dynamic_pointer_cast<ChatSplit>(destination)) {
            chatVC_ = split->firstChild();
            chatButtonVC_ = split->lastChild();
        }
        const UserSettingsManager& settings = UserSettingsManager::sharedInstance();
        if ((settings.actAsClient() || settings.chatMode() == 1) && !linkConnected()) {
            alert("Chat client not connected to chat server. Please check your settings!");
        }
    } else if (identifier == "showPreferences") {
        prepareConnectionDialog(destination);
    } else if (identifier == "editPlayer") {
        auto window = std::dynamic_pointer_cast<PerformerWindow>(destination);
        if (!window) return;
        window->setReadOnly(true);
        window->setPlayerIndex(playerIndex_);
        window->setChannelIndex(channelIndex_);
        const auto& wirelessInfo = dispatcher_->wirelessInfo();
        auto info = wirelessInfo.find(channelIndex_);
        window->setQuadversity(info != wirelessInfo.end() &&
                               info->second.quadversity.value_or(false));
        window->updateTitle(channelIndex_);
        playerViewController_ = window;
    }
}

}  // namespace quenbril
