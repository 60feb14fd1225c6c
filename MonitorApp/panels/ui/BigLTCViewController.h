#pragma once

#include <QColor>
#include <cstdint>
#include <optional>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/panels/ui/PanelServices.h"
#include "foundation/NotificationCenter.h"
#include "foundation/Timer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace quenbril {

/// The large timecode window: the timecode of one source strip in large digits, refreshed ten
/// times a second while the window is shown. The digits are green while the source's last
/// timecode is at most 1.5 s old, and red, frozen at that last value, after; a source that never
/// sent one shows a red "00:00:00:00". Main thread only.
class BigLTCViewController : public LockableViewController {
  public:
    static constexpr const char* kFontSizeKey = "LTCFontSize";
    static constexpr const char* kOnTopKey = "LTCOnTop";
    static constexpr const char* kFrameName = "LTCWindowAutoSave2";
    static constexpr const char* kTimecodeWirelessName = "LTC Timecode";
    static constexpr const char* kFontFamily = "Monaco";
    static constexpr double kRefreshInterval = 0.1;
    /// A timecode older than this (seconds) is shown red and no longer advanced.
    static constexpr double kMaxAge = 1.5;
    static constexpr int32_t kDefaultFontSize = 96;
    /// Stored sizes outside these are ignored.
    static constexpr int32_t kMinStoredFontSize = 46;
    static constexpr int32_t kMaxStoredFontSize = 299;
    /// Tags of the step buttons.
    static constexpr int kSmallerTag = 1;
    static constexpr int kLargerTag = 2;

    explicit BigLTCViewController(const PanelServices& services, QWidget* parent = nullptr);
    ~BigLTCViewController() override;

    // ---- Life cycle ----
    /// Shows "00:00:00:00".
    void viewDidLoad() override;
    /// The digits' size: 96, or the stored one when it is from 46 to 299.
    void viewWillAppear() override;
    /// Rebuilds the sources, picks one, sets the level and frame, and starts the refresh.
    void viewDidAppear() override;
    /// Saves the frame and the size, and stops the refresh.
    void viewDidDisappear() override;
    /// Shows the window (loading its view the first time); a shown one is brought forward.
    void show();

    // ---- The refresh ----
    /// Starts the 0.1 s refresh on the main run loop (one timer at most).
    void start();
    void stop();
    bool isRunning() const { return timer_.isValid(); }
    /// One refresh of the digits.
    void callback();

    // ---- Sources ----
    /// One item per strip whose wireless name is "LTC Timecode", titled with the strip's name
    /// and holding its csID.
    void refreshChannels();
    /// Chooses the first strip with id `csID` (for 0, also the first timecode strip) as the
    /// source; none found keeps the previous one. The timecode manager's source becomes it.
    void chooseCS(int64_t csID);
    /// The source menu's choice.
    void channelChanged();
    /// The id of the chosen source strip; none before one was found.
    std::optional<int64_t> chosenCSID() const { return chosenCSID_; }

    // ---- Size and level ----
    /// Preset sizes by item: 86, 128, 168, 196 pt (the font only, not the stored size), or the
    /// largest size below whose digits fit the screen.
    void sizeChanged(int item);
    /// One 10 pt step smaller (tag 1, from 51 up) or larger (tag 2, up to 259, and only while
    /// the digits of the larger size fit the screen). The window grows with its digits.
    void sizeButtonClicked(int tag);
    int32_t fontSize() const { return fontSize_; }
    void alwaysOnTopChanged();
    void updateWindowLevel();

    // ---- Outlets ----
    QLabel* bigLabel() const { return bigLabel_; }
    QComboBox* sizeButton() const { return sizeButton_; }
    QComboBox* channelButton() const { return channelButton_; }
    QPushButton* smallerButton() const { return smallerButton_; }
    QPushButton* largerButton() const { return largerButton_; }
    QCheckBox* alwaysOnTop() const { return alwaysOnTop_; }
    QLabel* dbLabel() const { return dbLabel_; }
    QLabel* statusLabel() const { return statusLabel_; }
    /// The colour the digits are drawn in.
    QColor digitColor() const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    PanelServices services_;
    void buildView();
    void setDigits(const QString& text, const QColor& color);
    void setDigitFont(int32_t pointSize);
    /// Whether the window, at its least around digits of that size, fits its screen.
    bool digitsFit(int32_t pointSize);
    /// The size, or the largest smaller one (down to the least stored size) whose digits fit.
    int32_t fittingSize(int32_t pointSize);
    /// The digits at that size, the window grown around them and kept on the screen.
    void showDigitsAt(int32_t pointSize);

    QLabel* bigLabel_ = nullptr;
    QComboBox* sizeButton_ = nullptr;
    QComboBox* channelButton_ = nullptr;
    QPushButton* smallerButton_ = nullptr;
    QPushButton* largerButton_ = nullptr;
    QCheckBox* alwaysOnTop_ = nullptr;
    QLabel* dbLabel_ = nullptr;
    QLabel* statusLabel_ = nullptr;

    Timer timer_;
    int32_t fontSize_ = kDefaultFontSize;
    // The chosen strip, by id: a "Channels" message may replace the strip list at any time.
    std::optional<int64_t> chosenCSID_;
    bool viewLoaded_ = false;
    bool appeared_ = false;
    NotificationObserver stripsEdited_;
};

}  // namespace quenbril
