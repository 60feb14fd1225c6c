#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MonitorApp/controls/FilePanel.h"
#include "MonitorApp/controls/TitledButton.h"

class QWidget;

namespace quenbril {

class ChannelStripView;

// The windows and controls the main window controller feeds or opens, as it sees them. The
// windows themselves come with their own subsystems; until one exists its segue finds no
// destination and is skipped, and every call on an absent window is skipped.

/// What a segue opens. `show()` brings the window up once it is prepared.
class SegueDestination {
  public:
    virtual ~SegueDestination() = default;
    virtual void show() {}
};

/// The performer window ("editPlayer").
class PerformerWindow : public virtual SegueDestination {
  public:
    virtual int32_t channelIndex() const = 0;
    virtual int32_t playerIndex() const = 0;
    virtual bool isClosed() const = 0;
    virtual void setReadOnly(bool readOnly) = 0;
    virtual void setPlayerIndex(int32_t index) = 0;
    virtual void setChannelIndex(int32_t index) = 0;
    virtual void setQuadversity(bool quadversity) = 0;
    /// Shows that strip's performer and history.
    virtual void updatePlayer(int32_t playerIndex, int32_t channelIndex) = 0;
    /// Window title and history colours of the strip.
    virtual void updateTitle(int32_t channelIndex) = 0;
    /// The status line under the history ("battery").
    virtual void setBatteryText(const std::string& text) = 0;
    /// The history renderer's four antenna curves and single line.
    virtual void setRendererQuadversity(bool quadversity) = 0;
    virtual void setRendererSingleLine(bool singleLine) = 0;
    virtual void lock(bool locked) = 0;
    /// The strip shown, by its id; none when the window shows none.
    virtual std::optional<int64_t> boundCsID() const { return std::nullopt; }
};

/// The chat panel's message table.
class ChatTable {
  public:
    virtual ~ChatTable() = default;
    virtual void reloadData() = 0;
    virtual void scrollToEnd() = 0;
    /// Refills the recipient menu from the chat users.
    virtual void updateClients() = 0;
    virtual void lock(bool locked) = 0;
};

/// The chat panel's quick-message buttons.
class ChatButtons {
  public:
    virtual ~ChatButtons() = default;
    /// The first button's label.
    virtual void updateButtonText(const std::string& text) = 0;
    virtual void lock(bool locked) = 0;
};

/// The chat panel ("showSplit"): the table first, the buttons last.
class ChatSplit : public virtual SegueDestination {
  public:
    virtual std::shared_ptr<ChatTable> firstChild() = 0;
    virtual std::shared_ptr<ChatButtons> lastChild() = 0;
};

/// The page notifier ("showChatNotifier").
class ChatNotifier : public virtual SegueDestination {
  public:
    virtual void setMessage(const std::string& message) = 0;
    virtual void setSender(const std::string& sender) = 0;
    virtual void setTextLabel(const std::string& text) = 0;
    /// Sizes the label to its text.
    virtual void screenResize() = 0;
    virtual bool isViewLoaded() const = 0;
    virtual void closeMe() = 0;
};

/// One modal alert: its texts, its look and its buttons.
struct Alert {
    /// The look of the alert, numbered as the alert styles are (0 warning).
    enum class Style { Warning = 0, Informational = 1, Critical = 2 };

    std::string messageText;
    std::string informativeText;
    Style style = Style::Warning;
    /// Button titles from the right (the first is the default); none gives one "OK".
    std::vector<std::string> buttons;
};

/// Modal alerts; the application shows a message box, tests record. Each alert belongs to the
/// window that asks for it (`window`, or the window it lies in): modal to it, shown above it
/// (above a window kept on top too), and the focus goes back to it afterwards.
class AlertPresenter {
  public:
    virtual ~AlertPresenter() = default;
    /// A warning with the message text and one "OK".
    virtual void runModal(QWidget* window, const std::string& messageText) = 0;
    /// The same warning, shown without waiting for the user: it returns at once and the alert
    /// stays until it is closed; the same text presented again meanwhile shows no second one.
    /// By default it is shown as `runModal` shows it.
    virtual void present(QWidget* window, const std::string& messageText) {
        runModal(window, messageText);
    }
    /// `present` for alerts of one `topic`: while one of them is still open, the next takes its
    /// place in that box instead of opening another (a server repeating itself with new values
    /// raises one box, with the latest text). By default it is shown as `present` shows it.
    virtual void present(QWidget* window, const std::string& messageText,
                         const std::string& topic) {
        (void)topic;
        present(window, messageText);
    }
    /// Shows `alert` and answers the index of the button chosen (0 for the first). By default
    /// it shows the message text alone and answers 0.
    virtual int runModal(QWidget* window, const Alert& alert) {
        runModal(window, alert.messageText);
        return 0;
    }
    /// Shows `alert` with an empty text field of `width` x `height` points under its texts and
    /// answers the index of the button chosen; `text` receives what was typed. By default no
    /// field is shown and `text` is left empty.
    virtual int runModal(QWidget* window, const Alert& alert, int width, int height,
                         std::string& text) {
        (void)width;
        (void)height;
        text.clear();
        return runModal(window, alert);
    }
};

/// The main window's scroll view around the strips.
class StripScroller {
  public:
    virtual ~StripScroller() = default;
    /// Scrolls the document view so that the strip view's frame is visible.
    virtual void scrollStripToVisible(const ChannelStripView& view) = 0;
};

}  // namespace quenbril
