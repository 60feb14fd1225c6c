#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

class SegueTable;
class ServerMessageDispatcher;
class UserSettingsManager;

/// The main window's segues: it makes each destination (through the segue table, or the
/// factory a test set), prepares it and shows it, and keeps the windows it opened (the chat
/// panel, the page notifier, the snapshots and the performer window) for the window's side.
/// Main thread only.
class SegueRouter {
  public:
    using Factory = std::function<std::shared_ptr<SegueDestination>(const std::string& identifier)>;

    /// What a preparation needs of the window.
    class Window {
      public:
        virtual ~Window() = default;
        virtual void prepareConnectionDialog(const std::shared_ptr<SegueDestination>& dialog) = 0;
        virtual void alert(const std::string& text) = 0;
        virtual bool linkConnected() const = 0;
    };

    SegueRouter(std::function<UserSettingsManager&()> settings,
                const ServerMessageDispatcher& dispatcher, Window& window);

    void setFactory(Factory factory) { factory_ = std::move(factory); }
    void setTable(SegueTable table);

    /// Makes, prepares and shows the destination of `identifier`; skipped (with a log line)
    /// while no window exists for it.
    void perform(const std::string& identifier);
    void prepare(const std::string& identifier,
                 const std::shared_ptr<SegueDestination>& destination);

    /// The strip the performer window ("editPlayer") opens on.
    void selectPerformer(int32_t playerIndex, int32_t channelIndex);
    int32_t playerIndex() const { return playerIndex_; }
    int32_t channelIndex() const { return channelIndex_; }

    std::shared_ptr<PerformerWindow> performerWindow() const { return performer_.lock(); }
    /// The performer window when it is open (not closed).
    std::shared_ptr<PerformerWindow> openPerformerWindow() const;
    const std::shared_ptr<ChatTable>& chatTable() const { return chatTable_; }
    const std::shared_ptr<ChatButtons>& chatButtons() const { return chatButtons_; }
    const std::shared_ptr<ChatNotifier>& chatNotifier() const { return chatNotifier_; }
    /// The chat window closed: its panes are no longer kept.
    void chatWindowClosed();
    void dismissChatNotifier();

  private:
    std::function<UserSettingsManager&()> settings_;
    const ServerMessageDispatcher& dispatcher_;
    Window& window_;
    Factory factory_;
    int32_t playerIndex_ = 0;
    int32_t channelIndex_ = 0;
    std::shared_ptr<ChatTable> chatTable_;
    std::shared_ptr<ChatButtons> chatButtons_;
    std::shared_ptr<ChatNotifier> chatNotifier_;
    std::shared_ptr<SegueDestination> snapshots_;
    std::weak_ptr<PerformerWindow> performer_;
};

}  // namespace quenbril
