#pragma once

#include <functional>

#include "foundation/RunLoopAnimation.h"

class QWidget;

namespace quenbril {

class FillView;
class QBButton;
class UserSettingsManager;

/// The main window header's indicators: the alarm looks of the chat and reset buttons, the
/// header's flash on a chat message and the bar that grows while a strip is held for a long
/// click. Its animations run on the main run loop's clock. Main thread only.
class HeaderIndicators {
  public:
    /// Seconds of one header flash: green to red in 0.5 s and back, four times.
    static constexpr double kHeaderFlashDuration = 4.0;
    /// The long-click bar's time when the user's setting is out of 0..5 s.
    static constexpr double kDefaultLongClickBarDuration = 0.75;

    explicit HeaderIndicators(std::function<UserSettingsManager&()> settings);

    /// The header the flash and the bar lie in, and the buttons whose looks show the alarms;
    /// not owned. The header is set before the first flash or bar.
    void setHeader(QWidget* header) { header_ = header; }
    void setResetButton(QBButton* button) { resetButton_ = button; }
    void setChatButton(QBButton* button) { chatButton_ = button; }
    QBButton* resetButton() const { return resetButton_; }
    QBButton* chatButton() const { return chatButton_; }

    /// The reset button shows "Alert_reset_red.png" while on, "Alert_reset_up.png" while off.
    void setResetAlarm(bool on);
    bool resetAlarm() const { return resetAlarm_; }
    /// How opaque the reset button is drawn, 0..1 (dimmed while every warning is off).
    void setResetButtonOpacity(double opacity);
    double resetButtonOpacity() const { return resetButtonOpacity_; }
    /// The chat button shows "Chat_red.png" while on, "Chat_up.png" while off.
    void setChatAlarm(bool on);
    bool chatAlarm() const { return chatAlarm_; }

    /// Flashes the header unless it is flashing already (a flash asked for during one is
    /// dropped); after the flash the header shows the "bgroundCont.png" pattern.
    void flashHeader();
    int headerFlashCount() const { return headerFlashCount_; }
    bool isHeaderFlashing() const { return headerFlashing_; }
    void resetHeaderFlashing() { headerFlashing_ = false; }
    /// The flash's colour, then the pattern; none before the first flash.
    FillView* headerBackdrop() const { return headerBackdrop_; }

    /// The bar grows across the header while a strip is held for a long click: it reaches the
    /// header's width as the long click fires and stays full until the press ends.
    void clickStarted();
    void clickEnded();
    bool longClickBarRunning() const { return longClickBarRunning_; }
    double longClickBarDuration() const { return longClickBar_.duration(); }
    /// The bar's time for the user's long-click setting: the setting, or 0.75 s when it is
    /// below 0 or above 5.
    static double longClickBarDurationFor(double setting);
    FillView* longClickBarView() const { return longClickBarView_; }

  private:
    void endHeaderFlash();
    void setLongClickBarWidth(int width);

    QWidget* header_ = nullptr;
    std::function<UserSettingsManager&()> settings_;
    QBButton* resetButton_ = nullptr;
    QBButton* chatButton_ = nullptr;
    bool resetAlarm_ = false;
    double resetButtonOpacity_ = 1.0;
    bool chatAlarm_ = false;
    int headerFlashCount_ = 0;
    bool headerFlashing_ = false;
    bool longClickBarRunning_ = false;
    FillView* headerBackdrop_ = nullptr;
    FillView* longClickBarView_ = nullptr;
    RunLoopAnimation headerFlash_;
    RunLoopAnimation longClickBar_;
};

}  // namespace quenbril
