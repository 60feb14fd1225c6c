#include "MonitorApp/chat/ui/ChatWindowOpener.h"

#include "MonitorApp/chat/ui/ChatSplitViewController.h"

namespace quenbril {

ChatWindowOpener::ChatWindowOpener(const ChatServices& services, AlertPresenter* alerts)
    : services_(services),
      alerts_(alerts),
      window_(std::make_shared<std::weak_ptr<ChatSplitViewController>>()) {}

std::shared_ptr<ChatSplitViewController> ChatWindowOpener::shownWindow() const {
    auto window = window_->lock();
    return window && window->isVisible() ? window : nullptr;
}

std::shared_ptr<SegueDestination> ChatWindowOpener::operator()() const {
    if (auto shown = shownWindow()) {
        shown->raise();
        shown->activateWindow();
        return nullptr;
    }
    auto window = std::make_shared<ChatSplitViewController>(services_, alerts_);
    *window_ = window;
    return window;
}

}  // namespace quenbril
