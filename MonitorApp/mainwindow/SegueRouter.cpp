#include "MonitorApp/mainwindow/SegueRouter.h"

#include "MonitorApp/dispatch/ServerMessageDispatcher.h"
#include "MonitorApp/mainwindow/SegueTable.h"
#include "MonitorApp/settings/UserSettingsManager.h"
#include "foundation/Log.h"

namespace quenbril {

SegueRouter::SegueRouter(std::function<UserSettingsManager&()> settings,
                         const ServerMessageDispatcher& dispatcher, Window& window)
    : settings_(std::move(settings)), dispatcher_(dispatcher), window_(window) {}

void SegueRouter::setTable(SegueTable table) {
    factory_ = [table = std::move(table)](const std::string& identifier) {
        return table.make(identifier);
    };
}

void SegueRouter::perform(const std::string& identifier) {
    std::shared_ptr<SegueDestination> destination = factory_ ? factory_(identifier) : nullptr;
    if (!destination) {
        QLOG("Segue %s skipped: its window is not available", identifier.c_str());
        return;
    }
    prepare(identifier, destination);
    destination->show();
}

void SegueRouter::prepare(const std::string& identifier,
                          const std::shared_ptr<SegueDestination>& destination) {
    if (identifier == "snapshotSeque") {
        snapshots_ = destination;
    } else if (identifier == "showChatNotifier") {
        chatNotifier_ = std::dynamic_pointer_cast<ChatNotifier>(destination);
        if (chatNotifier_) {
            chatNotifier_->setMessage(dispatcher_.latestChatMessage());
            chatNotifier_->setSender(dispatcher_.latestSender());
        }
    } else if (identifier == "showSplit") {
        if (auto split = std::dynamic_pointer_cast<ChatSplit>(destination)) {
            chatTable_ = split->firstChild();
            chatButtons_ = split->lastChild();
        }
        const UserSettingsManager& settings = settings_();
        if ((settings.actAsClient() || settings.chatMode() == 1) && !window_.linkConnected()) {
            window_.alert("Chat client not connected to chat server. Please check your settings!");
        }
    } else if (identifier == "showPreferences") {
        window_.prepareConnectionDialog(destination);
    } else if (identifier == "editPlayer") {
        auto window = std::dynamic_pointer_cast<PerformerWindow>(destination);
        if (!window) return;
        window->setReadOnly(true);
        window->setPlayerIndex(playerIndex_);
        window->setChannelIndex(channelIndex_);
        const auto& wirelessInfo = dispatcher_.wirelessInfo();
        auto info = wirelessInfo.find(channelIndex_);
        window->setQuadversity(info != wirelessInfo.end() &&
                               info->second.quadversity.value_or(false));
        window->updateTitle(channelIndex_);
        performer_ = window;
    }
}

void SegueRouter::selectPerformer(int32_t playerIndex, int32_t channelIndex) {
    playerIndex_ = playerIndex;
    channelIndex_ = channelIndex;
}

std::shared_ptr<PerformerWindow> SegueRouter::openPerformerWindow() const {
    std::shared_ptr<PerformerWindow> window = performer_.lock();
    return window && !window->isClosed() ? window : nullptr;
}

void SegueRouter::chatWindowClosed() {
    chatTable_.reset();
    chatButtons_.reset();
}

void SegueRouter::dismissChatNotifier() {
    if (chatNotifier_ && chatNotifier_->isViewLoaded()) chatNotifier_->closeMe();
}

}  // namespace quenbril
