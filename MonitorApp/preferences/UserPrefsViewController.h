#pragma once

#include "MonitorApp/lockable/LockableViewController.h"
#include "MonitorApp/preferences/PreferencesPane.h"
#include "MonitorApp/preferences/PreferencesServices.h"
#include "MonitorApp/seams/MainWindowSeams.h"

class QCheckBox;
class QLineEdit;

namespace quenbril {

class LinkSender;
class SettingsTabViewController;

/// The user pane of the preferences window: single solo mode and the long-click duration. It
/// writes its controls into the user settings whenever it goes out of sight, on apply and on
/// save-and-close; there is no discarding cancel.
///
/// The preferences window calls viewDidAppear and viewWillDisappear as the pane comes into
/// sight and goes out of it. Main thread only.
class UserPrefsViewController : public LockableViewController, public PreferencesPane {
  public:
    /// Characters (code points) a text field of the pane keeps.
    static constexpr int kMaxTextLength = 64;
    static constexpr const char* kSoloToolTip =
        "Single solo mode can be selected in Quenbril Server settings";

    /// `services`: the settings it edits and the strips it refreshes.
    explicit UserPrefsViewController(const PreferencesServices& services,
                                     QWidget* parent = nullptr);
    ~UserPrefsViewController() override;

    void viewDidLoad() override;
    /// Shows the settings in the controls.
    void viewDidAppear() override;
    /// Saves.
    void viewWillDisappear() override;
    LockableViewController& paneView() override { return *this; }

    /// A delegated field's text changed: the long-click duration takes "," as the decimal
    /// point; any other field is cut to 64 characters.
    void controlTextDidChange(QLineEdit* field);
    /// Makes the pane the delegate of a text field of its view.
    void delegateTextField(QLineEdit* field);

    /// Writes the controls into the user settings and stores them, sends "SoloOn", refreshes
    /// the strips and posts "SettingsChanged". A duration that is not a number keeps the
    /// previous one. A store that cannot be written is reported.
    void save();
    void applyClicked() { save(); }
    /// Saves, then closes the preferences window.
    void saveAndClose();

    QCheckBox* soloOn() const { return soloOn_; }
    QLineEdit* longClickDuration() const { return longClickDuration_; }
    SettingsTabViewController* tabDelegate() const { return tabDelegate_; }
    void setTabDelegate(SettingsTabViewController* delegate) override { tabDelegate_ = delegate; }
    /// Where "SoloOn" goes (the server link); none drops it. Not owned.
    void setLinkSender(LinkSender* sender) { linkSender_ = sender; }
    /// Where a failed save is reported. Not owned.
    void setAlertPresenter(AlertPresenter* presenter) override { alertPresenter_ = presenter; }

  private:
    void buildForm();

    PreferencesServices services_;
    QCheckBox* soloOn_ = nullptr;
    QLineEdit* longClickDuration_ = nullptr;
    SettingsTabViewController* tabDelegate_ = nullptr;
    LinkSender* linkSender_ = nullptr;
    AlertPresenter* alertPresenter_ = nullptr;
};

}  // namespace quenbril
