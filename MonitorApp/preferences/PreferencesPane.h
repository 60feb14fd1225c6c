#pragma once

#include "MonitorApp/seams/MainWindowSeams.h"

namespace quenbril {

class LockableViewController;
class SettingsTabViewController;

/// One tab of the preferences window as the window sees it. Panes of other subsystems (the
/// chat's) are handed to the window by the application, so the window knows none of them.
class PreferencesPane {
  public:
    virtual ~PreferencesPane() = default;
    /// The pane's view: the tab's page.
    virtual LockableViewController& paneView() = 0;
    /// The window whose close the pane's save-and-close asks for; set each time it is shown.
    virtual void setTabDelegate(SettingsTabViewController* delegate) = 0;
    /// Where a save that could not be stored is reported. Not owned.
    virtual void setAlertPresenter(AlertPresenter* presenter) = 0;
    /// The pane came into sight: it shows the settings.
    virtual void viewDidAppear() = 0;
    /// The pane goes out of sight: it saves.
    virtual void viewWillDisappear() = 0;
};

}  // namespace quenbril
