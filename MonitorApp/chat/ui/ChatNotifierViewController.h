#pragma once

#include <QColor>
#include <QWidget>
#include <memory>
#include <string>

#include "MonitorApp/seams/MainWindowSeams.h"
#include "foundation/Timer.h"

class QLabel;

namespace quenbril {

class ColorHelper;
class UserSettingsManager;

/// The page notifier: a small window above the others that shows a page from another user,
/// "<time>: <text>" and the sender's name, on a background that flashes every half second
/// between the sender's chat colour and red (green when it opens). A click closes it, as do the
/// main window (a learnt MIDI event, the alerts reset) and, when the user set one, the time-out
/// `flashTimeout`. One notifier at a time: a new page while it is shown updates it.
///
/// Made by the main window's "showChatNotifier" segue (see shownOrNew); show() brings it up.
/// Main thread only; its timers run on the main run loop.
class ChatNotifierViewController : public QWidget, public ChatNotifier {
  public:
    static constexpr const char* kFrameName = "chatNotifierWindowAutoSave2";
    static constexpr int kMinimumWidth = 300;
    static constexpr int kMinimumHeight = 150;
    /// Seconds between two colours.
    static constexpr double kFlashInterval = 0.5;
    /// The label's side margins and what it adds to its text's height.
    static constexpr int kLabelMargin = 15;
    static constexpr int kLabelPadding = 36;

    /// The notifier on screen, else a new one, which `shown` then names: a page while one is
    /// shown goes to it rather than to a second window.
    static std::shared_ptr<ChatNotifierViewController> shownOrNew(
        std::weak_ptr<ChatNotifierViewController>& shown, UserSettingsManager& settings,
        ColorHelper& colors);

    /// `settings`: the flash time-out that closes the notifier; `colors`: the sender's colour.
    ChatNotifierViewController(UserSettingsManager& settings, ColorHelper& colors,
                               QWidget* parent = nullptr);
    ~ChatNotifierViewController() override;

    /// Takes the saved frame, shows the window and starts flashing. Shown already: shows the
    /// message and sender set since, lays them out and starts the close time-out anew.
    void show() override;

    void setMessage(const std::string& message) override { message_ = message; }
    void setSender(const std::string& sender) override { sender_ = sender; }
    void setTextLabel(const std::string& text) override;
    /// Centres the label vertically between its side margins, as high as its wrapped text.
    void screenResize() override;
    bool isViewLoaded() const override { return viewLoaded_; }
    /// Closes the window (saving its frame and stopping its timers).
    void closeMe() override;

    /// The flash timer's action: the sender's colour, then red, in turn.
    void flash();

    const std::string& message() const { return message_; }
    const std::string& sender() const { return sender_; }
    QLabel* textLabel() const { return textLabel_; }
    QLabel* senderField() const { return senderField_; }
    QColor backgroundColor() const { return background_; }
    /// Whether the close time-out is running.
    bool closeTimerRunning() const { return closeTimer_.isValid(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void viewWillAppear();
    void viewDidAppear();
    void viewWillDisappear();
    /// The label shows the message, the sender field the sender when there is one.
    void showTexts();
    /// Starts the close time-out of `flashTimeout` seconds anew; none below 1 s.
    void startCloseTimer();

    UserSettingsManager& settings_;
    ColorHelper& colors_;
    std::string message_;
    std::string sender_;
    QLabel* textLabel_ = nullptr;
    QLabel* senderField_ = nullptr;
    QColor background_;
    Timer timer_;
    Timer closeTimer_;
    int counter_ = 0;
    bool viewLoaded_ = false;
    bool pressed_ = false;
};

}  // namespace quenbril
