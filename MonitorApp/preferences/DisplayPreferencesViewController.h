#pragma once

#include <array>
#include <utility>

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/preferences/ColorWell.h"
#include "MonitorApp/preferences/PreferencesPane.h"
#include "MonitorApp/preferences/PreferencesServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"

class QCheckBox;
class QComboBox;
class QSlider;

namespace quenbril {

class SettingsTabViewController;

/// The display pane of the preferences window: the level colours and trace thickness of the
/// theme, the strip border, the number of chat macros, the strip flip, the player-picture
/// opacity, what strip titles show and the three alert switches. It writes its controls into
/// the theme and the user settings whenever it goes out of sight, on apply, on save-and-close
/// and on cancel.
///
/// The preferences window calls viewDidAppear and viewWillDisappear as the pane comes into
/// sight and goes out of it. Main thread only.
class DisplayPreferencesViewController : public LockableViewController, public PreferencesPane {
  public:
    /// `services`: the settings and the theme it edits, the strips it refreshes.
    explicit DisplayPreferencesViewController(const PreferencesServices& services,
                                              QWidget* parent = nullptr);
    ~DisplayPreferencesViewController() override;

    void viewDidLoad() override;
    /// Shows the theme and the settings in the controls.
    void viewDidAppear() override;
    /// Saves.
    void viewWillDisappear() override;
    LockableViewController& paneView() override { return *this; }
    /// Shows the border width, the macro count and the four switches of the user settings.
    void readFromUserDefaults();
    /// Writes every control into the theme and the user settings, refreshes the strips and
    /// posts "ChatButtonsChanged" and "SettingsChanged". A store that cannot be written is
    /// reported.
    void save();
    void applyClicked() { save(); }
    /// Saves, then closes the preferences window.
    void saveAndClose();
    /// Closes the preferences window; the pane saves as it goes out of sight like at any
    /// other closing.
    void cancelClicked();
    /// Drops the stored theme for the built-in one and puts the defaults of the border, the
    /// flip, the macros and the alerts into the settings and the controls. Stores nothing: the
    /// next save writes what the controls then show.
    void resetToDefaults();

    /// The picker every colour well uses (tests install one that answers at once).
    void setColorPicker(const ColorWell::Picker& picker);
    /// Where a failed save is reported. Not owned.
    void setAlertPresenter(AlertPresenter* presenter) override { alertPresenter_ = presenter; }

    QComboBox* lineThickness() const { return lineThickness_; }
    ColorWell* audioColor() const { return audioColor_; }
    ColorWell* rfColor() const { return rfColor_; }
    ColorWell* rfAColor() const { return rfAColor_; }
    ColorWell* rfBColor() const { return rfBColor_; }
    ColorWell* rfCColor() const { return rfCColor_; }
    ColorWell* rfDColor() const { return rfDColor_; }
    ColorWell* qlColor() const { return qlColor_; }
    ColorWell* channelStripBorderColor() const { return channelStripBorderColor_; }
    QComboBox* channelStripBorderWidth() const { return channelStripBorderWidth_; }
    QComboBox* numberOfMacrosInChat() const { return numberOfMacrosInChat_; }
    QCheckBox* flipChannelStripLabels() const { return flipChannelStripLabels_; }
    QSlider* playerOpacity() const { return playerOpacity_; }
    QComboBox* titleShow() const { return titleShow_; }
    QCheckBox* showSCPAlerts() const { return showSCPAlerts_; }
    QCheckBox* showBatteryAlerts() const { return showBatteryAlerts_; }
    QCheckBox* showRFAlerts() const { return showRFAlerts_; }
    SettingsTabViewController* tabDelegate() const { return tabDelegate_; }
    void setTabDelegate(SettingsTabViewController* delegate) override { tabDelegate_ = delegate; }

  private:
    void buildForm();
    /// Selects the thickness item within 0.1 of the theme's thickness; none leaves it.
    void showLineThickness();
    void showThemeColors();
    /// The wells with their user-defaults keys, in the order they are saved.
    std::array<std::pair<const char*, ColorWell*>, 8> wells() const;

    PreferencesServices services_;
    QComboBox* lineThickness_ = nullptr;
    ColorWell* audioColor_ = nullptr;
    ColorWell* rfColor_ = nullptr;
    ColorWell* rfAColor_ = nullptr;
    ColorWell* rfBColor_ = nullptr;
    ColorWell* rfCColor_ = nullptr;
    ColorWell* rfDColor_ = nullptr;
    ColorWell* qlColor_ = nullptr;
    QComboBox* channelStripBorderWidth_ = nullptr;
    QComboBox* numberOfMacrosInChat_ = nullptr;
    QCheckBox* flipChannelStripLabels_ = nullptr;
    ColorWell* channelStripBorderColor_ = nullptr;
    QSlider* playerOpacity_ = nullptr;
    QComboBox* titleShow_ = nullptr;
    QCheckBox* showSCPAlerts_ = nullptr;
    QCheckBox* showBatteryAlerts_ = nullptr;
    QCheckBox* showRFAlerts_ = nullptr;
    SettingsTabViewController* tabDelegate_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
};

}  // namespace quenbril
